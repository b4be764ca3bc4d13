#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "infocast/TInfocastConfigurationParser.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

class TInfocastConfigurationParserTest : public ::testing::Test {
 protected:
  TInfocastConfigurationParserTest() { names_.aliases["old"] = "new"; }

  // "name/P or R, C for countref/type/address:port/connection,interval,timeout;" per object.
  static std::string Describe(const TInfocastConfiguration& configuration) {
    std::string text;
    for (const TInfocastObjectRecord& o : configuration.objects) {
      const TInfocastChannelRecord& c = configuration.channels.at(o.channel);
      text += o.name + "/" + (o.prefetch ? "P" : "R") + (o.countref ? "C" : "") + "/" +
              std::to_string(o.type) + "/" + c.address + ":" + std::to_string(c.port) + "/" +
              std::to_string(c.connection) + "," + std::to_string(c.interval) + "," +
              std::to_string(c.timeout) + ";";
    }
    return text;
  }

  test::TRecordingTracker tracker_;
  test::TFakeAliases names_;
  TInfocastConfigurationParser parser_{names_, tracker_};
};

TEST_F(TInfocastConfigurationParserTest, XmlChecksEachRuleInOrderAndKeepsWhatCameBefore) {
  const std::string c = "<Infocast><Channel ", ch = c + "address='239.1.1.1' port='5000' ";
  const std::string once = ch + "connection='Once'>", re = ch + "connection='Reconnected' ";
  const std::string end = "</Channel></Infocast>", e = "/></Infocast>", a = "<Object name='a' ";
  // The text, the error traced (nullptr: none), the objects kept.
  const std::tuple<std::string, const char*, size_t> cases[] = {
      {"<Other/>", "Unknown root element in infocast configuration", 0},
      {c + "port='1'" + e, "Channel has no address attribute", 0},
      {c + "address='239.1.1'" + e, "Channel has an invalid IP address", 0},
      {c + "address='239.1.1.1' port='0'" + e, "Channel has invalid port number", 0},
      {c + "address='239.1.1.1' port='65536'" + e, "Channel has invalid port number", 0},
      {ch + e, "Channel has no connection attribute", 0},
      {ch + "connection='Sometimes'" + e, "Channel has unknown connection type", 0},
      {re + "interval='1'" + e, "Channel has invalid interval value", 0},
      {re + "interval='86401'" + e, "Channel has invalid interval value", 0},
      {re + "interval='60'" + e, "Channel has no timeout attribute", 0},
      {re + "interval='60' timeout='60'" + e, "Channel has invalid timeout value", 0},
      {re + "interval='60' timeout='0'" + e, "Channel has invalid timeout value", 0},
      {re + "interval='86400' timeout='86399'>" + a + "fetch='Prefetch'/>" + end, nullptr, 1},
      {ch + "connection='Once' interval='abc'>" + a + "fetch='Prefetch'/>" + end, nullptr, 1},
      {once + "<Channel/>" + end, "Unknown element in infocast configuration", 0},
      {once + "<Object fetch='Prefetch'/>" + end, "Object has no name attribute", 0},
      {once + a + "fetch='Now'/>" + end, "Object has invalid fetch value", 0},
      {once + a + "fetch='OnRequest'/>" + end, "Object has no countref attribute", 0},
      {once + a + "fetch='OnRequest' countref='yes'/>" + end, "Object has invalid countref", 0},
      {once + a + "fetch='OnRequest' countref='true'/>" + a + "/>" + end, "Object has no fetch", 1},
      {"<Infocast", "", 0},  // not well-formed: expat's reason follows
  };
  for (const auto& [text, error, objects] : cases) {
    tracker_.messages.clear();
    EXPECT_EQ(objects, parser_.ParseXml(text).objects.size()) << text;
    EXPECT_EQ(error != nullptr, !tracker_.messages.empty()) << text;
    EXPECT_TRUE(!error ||
                tracker_.Holds(TTracker::kError, "TInfocastAdapter: " + std::string(error)))
        << text;
  }
}

// A bad type is skipped with a warning, also with an empty name (an entry like any other);
// spaces around parts do not count; a malformed entry or missing quote ends the text, traced.
TEST_F(TInfocastConfigurationParserTest, ExtendedTextSkipsBadTypesAndStopsAtMalformedEntries) {
  EXPECT_EQ(
      "cfg.x/P/1/239.2.2.2:6000/0,0,0;sub dir/P/49152/239.1.1.1:5000/0,0,0;"
      "/P/49152/239.2.2.2:6000/0,0,0;new/P/1/10.0.0.1:77/0,0,0;name/P/1/239.2.2.2:6000/0,0,0;",
      Describe(parser_.ParseExtended(
          "comment \"1'cfg.x\" \"  C000'sub dir '239.1.1.1:5000\" \"7'var.x\" \"7'\" "
          "\"C000'\" \"1' old '  10.0.0.1:  77\" \"FFFFFFFFFFFF'a\" \"1 x'  name more\" "
          "\"1 var.z\" \"1'var.w\"",
          "239.2.2.2", 6000)));
  EXPECT_EQ(2, std::count_if(tracker_.messages.begin(), tracker_.messages.end(), [](auto& m) {
              return m.second == "Objects with type 7 is not supported";
            }));
  EXPECT_TRUE(tracker_.Holds(TTracker::kWarning, std::to_string(INT_MAX)));
  EXPECT_TRUE(tracker_.Holds(TTracker::kWarning, "1 var.z"));
  for (const std::string end : {"\"1'b", "\"   \"", "\"1'b'239.1.1.1\""}) {
    tracker_.messages.clear();
    EXPECT_EQ(1u, parser_.ParseExtended("\"1'a\" " + end, "239.2.2.2", 6000).objects.size()) << end;
    EXPECT_FALSE(tracker_.messages.empty()) << end;
  }
}

}  // namespace
