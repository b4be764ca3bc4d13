#include <gtest/gtest.h>

#include <string>

#include "infocast/TInfocastFilters.h"
#include "os/TManualClock.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

// The 32 bytes of a target filter: text, NUL-padded; extra bytes after a NUL may follow.
std::string Filter(const std::string& text) {
  std::string bytes = text;
  bytes.resize(TInfocastFilters::kTargetFilterLength, '\0');
  return bytes;
}

class TInfocastFiltersTest : public ::testing::Test {
 protected:
  TInfocastFiltersTest() : filters_("TInfocastChannel: ", objects_, clock_, tracker_) {
    objects_.values = {{"var.ip.eth0.addr", "10.1.2.3"}, {"cfg.locale.timezone", ""},
                       {"cfg._userfilter", "tester"},    {"cfg._userversion", "2.1"},
                       {"const.sw.date", "2008-05-01"},  {"const.sw.time", "10:00"},
                       {"const._fw.version", "1.4.0"},   {"const.hw.manufacturer", "Acme"},
                       {"const.hw.productname", "Box"},  {"const.hw.version", "3"}};
  }
  test::TFakeObjects objects_;
  TManualClock clock_{1000, 1700000000};
  test::TRecordingTracker tracker_;
  TInfocastFilters filters_;
};

TEST_F(TInfocastFiltersTest, TimeFilterBoundsAreInclusiveAndUnsigned) {
  struct TCase {
    const char* filter;
    bool active;
  } cases[] = {
      {"00000000FFFFFFFF", true},   // always
      {"6553F1006553F1FF", true},   // now is the start
      {"6553F0006553F100", true},   // now is the end
      {"6553F1016553F1FF", false},  // starts a second from now
      {"000000006553F0FF", false},  // ended
      {"FFFFFFFF00000000", false},  // start after end
      {"6553f0006553fa00", true},   // lower-case digits
      {"6553F0006553FA00", true},
  };
  for (const TCase& c : cases) EXPECT_EQ(filters_.TimeFilterActive(c.filter), c.active) << c.filter;
}

// One table for the seven target types: the box above (10.1.2.3, empty time zone, user
// "tester", application "2.1", build 2008-05-01.10:00, firmware 1.4.0, Acme-Box version 3).
TEST_F(TInfocastFiltersTest, TargetFiltersMatchTheBoxOrTraceWhyNot) {
  struct TCase {
    std::string filter;
    bool match;
    const char* trace;  // error expected, or nullptr for none
  } cases[] = {
      {Filter("I=0A000000-0AFFFFFF"), true, nullptr},
      {Filter("I!0A000000-0AFFFFFF"), false, nullptr},
      {Filter("I!0B000000-0BFFFFFF"), true, nullptr},
      {Filter("I=0A010203-0A010203"), true, nullptr},  // one address, both bounds inclusive
      {Filter("I=0A00000-0AFFFFFF"), false, "Target filter data invalid, I=0A00000-0AFFFFFF"},
      {Filter("I<0A000000-0AFFFFFF"), false, "Target operator < not supported for target type I"},
      {Filter("Z="), true, nullptr},
      {Filter("Z!"), false, nullptr},
      {Filter("Z=Europe/Berlin"), false, nullptr},
      {Filter("U=tester"), true, nullptr},
      {Filter("U!tester"), false, nullptr},
      {Filter("U<zzz"), false, "Target operator < not supported for target type U"},
      {Filter("A=2.1"), true, nullptr},
      {Filter("A>2.0"), false, "Target operator > not supported for target type A"},
      {Filter("S<2008-05-01.9:00"), true, nullptr},  // bytewise: "1" sorts before "9"
      {Filter("S>2008-05-01.9:00"), false, nullptr},
      {Filter("S=2008-05-01.10:00"), true, nullptr},
      {Filter("F=1.4.0"), true, nullptr},
      {Filter("F>1.3.9"), true, nullptr},
      {Filter("F<1.4"), false, nullptr},  // a proper prefix sorts first
      {Filter("F!1.4.0"), false, nullptr},
      {Filter("H=Acme-Box"), true, nullptr},
      {Filter("H=Acme-Box:3"), true, nullptr},
      {Filter("H=Acme-Box").replace(20, 1, ":"), false, nullptr},  // colon after the NUL
      {Filter("H?Acme-Box"), false, "Target operator ? not supported for target type H"},
      {std::string(32, 'Z'), false, "Timezone filter string is not null terminated"},
      {"U=" + std::string(30, 'x'), false, "User filter string is not null terminated"},
      {"A=" + std::string(30, 'x'), false, "Application filter string is not null terminated"},
      {"S=" + std::string(30, 'x'), false, "Software filter string is not null terminated"},
      {"F=" + std::string(30, 'x'), false, "Firmware filter string is not null terminated"},
      {"H=" + std::string(30, 'x'), false, "Hardware filter string is not null terminated"},
      {Filter("X=1"), false, "Target type X not supported"},
  };
  for (const TCase& c : cases) {
    tracker_.messages.clear();
    EXPECT_EQ(filters_.TargetFilterActive(c.filter), c.match) << c.filter.c_str();
    if (c.trace) {
      EXPECT_TRUE(tracker_.Holds(TTracker::kError, std::string("TInfocastChannel: ") + c.trace))
          << c.filter.c_str();
    } else {
      EXPECT_TRUE(tracker_.messages.empty()) << c.filter.c_str();
    }
  }
}

TEST_F(TInfocastFiltersTest, MissingPropertiesAreTracedAndReadAsEmpty) {
  objects_.values.erase("cfg.locale.timezone");
  EXPECT_TRUE(filters_.TargetFilterActive(Filter("Z=")));
  EXPECT_TRUE(
      tracker_.Holds(TTracker::kError, "TInfocastChannel: Unknown object (cfg.locale.timezone)"));
  objects_.values.erase("var.ip.eth0.addr");  // address 0
  EXPECT_TRUE(filters_.TargetFilterActive(Filter("I=00000000-00000000")));
}

TEST_F(TInfocastFiltersTest, DottedAddressesOfAnyShapeGiveABoundedNumber) {
  EXPECT_EQ(TInfocastFilters::AddressFromDottedText("10.1.2.3"), 0x0A010203u);
  EXPECT_EQ(TInfocastFilters::AddressFromDottedText("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(TInfocastFilters::AddressFromDottedText(""), 0u);
  EXPECT_EQ(TInfocastFilters::AddressFromDottedText("1.2.3.4.5.6"), 0x01020304u);
  TInfocastFilters::AddressFromDottedText("99999999999999999999.x..");  // no overflow trap
}

}  // namespace
