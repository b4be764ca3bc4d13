#include <gtest/gtest.h>

#include <string>

#include "infocast/TInfocastDatagramEngine.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastDatagramFuzzInput.h"

namespace {

using test::MakeDatagram;

class TInfocastDatagramEngineTest : public ::testing::Test {
 protected:
  test::TRecordingTracker tracker_;
  test::TEngineRig rig_{true, &tracker_};  // the management rules, as that channel routes
  test::TRecordingOwner& callback_ = rig_.callback;
  void Feed(const std::string& datagram) { rig_.Feed(datagram); }
};

// What the management rules change: precoding 0x0003 accepted with 20 unverified bytes, the
// checksum before the owner's compare, continuation by name alone, filters before it.
TEST_F(TInfocastDatagramEngineTest, ManagementRulesDifferWhereTheChannelsDiffer) {
  Feed(MakeDatagram(1, 3, 1, 1, "m.a", 0, "", "value" + std::string(20, '#')));
  EXPECT_EQ(callback_.held["m.a"], "value");
  Feed(MakeDatagram(1, 2, 1, 1, "m.b", 0, "", "abc\xA8\x38"));
  EXPECT_TRUE(
      tracker_.Holds(TTracker::kError, "TManagementChannel: Checksum error (crc16) in object"));
  EXPECT_EQ(callback_.Count("compare"), 1u) << "no compare after a checksum error";
  Feed(MakeDatagram(2, 0, 1, 1, "m.c", 0, "", ""));
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "TManagementChannel: Object is of wrong type (2)"));
  // 1, 2, 1, 2, 3: the second run alone; a changed precoding still continues by name.
  Feed(MakeDatagram(0xC001, 0, 1, 3, "m.d", 0, "", "x"));
  Feed(MakeDatagram(0xC001, 0, 2, 3, "m.d", 0, "", "y"));
  Feed(MakeDatagram(0xC001, 0, 1, 3, "m.d", 0, "", "a"));
  Feed(MakeDatagram(0xC001, 0, 2, 3, "m.d", 0, "", "b"));
  Feed(MakeDatagram(0x0001, 9, 3, 3, "m.d", 0, "", "c"));
  EXPECT_EQ(callback_.held["m.d"], "abc");
  // A time filter not active withdraws even a packet that continues nothing.
  rig_.clock.SetWallSeconds(100);
  Feed(MakeDatagram(1, 0, 7, 9, "m.e", 0x2001, "0000000000000010", ""));
  EXPECT_EQ(callback_.calls.back().what, "object");
  EXPECT_EQ(callback_.calls.back().name, "m.e");
  EXPECT_EQ(callback_.calls.back().value, "");
  EXPECT_FALSE(tracker_.Holds(TTracker::kTrace, "Filter match"));
}

// packetCount is anybody's 32-bit number: an object announcing 4 billion packets stops at the
// bound with a trace, and its later packets are dropped until a new first packet.
TEST_F(TInfocastDatagramEngineTest, AssemblyStopsAtItsBound) {
  const std::string slice(1556, 's');
  const size_t needed = TInfocastDatagramEngine::kMaxObjectSize / slice.size() + 1;
  for (uint32_t number = 1; number <= needed + 2; ++number) {
    Feed(MakeDatagram(1, 0, number, 0xFFFFFFFFu, "m.huge", 0, "", slice));
    ASSERT_LE(rig_.engine.GetAssembly().size(), TInfocastDatagramEngine::kMaxObjectSize);
  }
  EXPECT_TRUE(
      tracker_.Holds(TTracker::kError,
                     "TManagementChannel: Object 'm.huge' is larger than 16777216 bytes; dropped"));
  EXPECT_TRUE(rig_.engine.GetAssembly().empty());
  Feed(MakeDatagram(1, 0, 1, 1, "m.small", 0, "", "ok"));
  EXPECT_EQ(callback_.held["m.small"], "ok");
}

}  // namespace
