#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "infocast/TInfocastConfigurationParser.h"
#include "infocast/TInfocastHeader.h"
#include "tests/TestSupport.h"

namespace {

constexpr uint16_t kDirectory = TInfocastHeader::kTypeDirectory;

class TOneAlias final : public INameTranslator {
 public:
  bool HasAlias(const std::string& name) const override { return name == "old"; }
  std::string Translate(const std::string& name) const override {
    return name == "old" ? "new" : name;
  }
};

class TInfocastConfigurationParserTest : public ::testing::Test {
 protected:
  // "name/prefetch+countref/type/channel address:port/connection,interval,timeout" per object.
  static std::vector<std::string> Describe(const TInfocastConfiguration& configuration) {
    std::vector<std::string> lines;
    for (const TInfocastObjectRecord& object : configuration.objects) {
      const TInfocastChannelRecord& channel = configuration.channels.at(object.channel);
      lines.push_back(object.name + "/" + (object.prefetch ? "P" : "R") +
                      (object.countref ? "C" : "") + "/" + std::to_string(object.type) + "/" +
                      channel.address + ":" + std::to_string(channel.port) + "/" +
                      std::to_string(channel.connection) + "," + std::to_string(channel.interval) +
                      "," + std::to_string(channel.timeout));
    }
    return lines;
  }

  test::TRecordingTracker tracker_;
  TOneAlias names_;
  TInfocastConfigurationParser parser_{names_, tracker_};
};

TEST_F(TInfocastConfigurationParserTest, XmlChecksEachRuleInOrderAndKeepsWhatCameBefore) {
  const std::string channel = "<Infocast><Channel address=\"239.1.1.1\" port=\"5000\" ";
  const std::string once = channel + "connection=\"Once\">";
  const std::string end = "</Channel></Infocast>";
  struct TCase {
    std::string text;
    const char* error;  // nullptr: accepted
    size_t objects;
  } cases[] = {
      {"<Other/>", "Unknown root element in infocast configuration", 0},
      {"<Infocast><Object/></Infocast>", "Unknown element in infocast configuration", 0},
      {"<Infocast><Channel port=\"1\"/></Infocast>", "Channel has no address attribute", 0},
      {"<Infocast><Channel address=\"239.1.1\"/></Infocast>", "Channel has an invalid IP address",
       0},
      {"<Infocast><Channel address=\"239.1.1.1\"/></Infocast>", "Channel has no port attribute", 0},
      {"<Infocast><Channel address=\"239.1.1.1\" port=\"0\"/></Infocast>",
       "Channel has invalid port number", 0},
      {"<Infocast><Channel address=\"239.1.1.1\" port=\"65536\"/></Infocast>",
       "Channel has invalid port number", 0},
      {channel + "/></Infocast>", "Channel has no connection attribute", 0},
      {channel + "connection=\"Sometimes\"/></Infocast>", "Channel has unknown connection type", 0},
      {channel + "connection=\"Reconnected\"/></Infocast>", "Channel has no interval attribute", 0},
      {channel + "connection=\"Reconnected\" interval=\"1\"/></Infocast>",
       "Channel has invalid interval value", 0},
      {channel + "connection=\"Reconnected\" interval=\"86401\"/></Infocast>",
       "Channel has invalid interval value", 0},
      {channel + "connection=\"Reconnected\" interval=\"60\"/></Infocast>",
       "Channel has no timeout attribute", 0},
      {channel + "connection=\"Reconnected\" interval=\"60\" timeout=\"60\"/></Infocast>",
       "Channel has invalid timeout value", 0},
      {channel + "connection=\"Reconnected\" interval=\"60\" timeout=\"0\"/></Infocast>",
       "Channel has invalid timeout value", 0},
      {channel + "connection=\"Reconnected\" interval=\"86400\" timeout=\"86399\">" +
           "<Object name=\"a\" fetch=\"Prefetch\"/>" + end,
       nullptr, 1},
      {channel + "connection=\"Once\" interval=\"abc\"><Object name=\"a\" fetch=\"Prefetch\"/>" +
           end,
       nullptr, 1},
      {once + "<Channel/>" + end, "Unknown element in infocast configuration", 0},
      {once + "<Object fetch=\"Prefetch\"/>" + end, "Object has no name attribute", 0},
      {once + "<Object name=\"a\"/>" + end, "Object has no fetch attribute", 0},
      {once + "<Object name=\"a\" fetch=\"Now\"/>" + end, "Object has invalid fetch value", 0},
      {once + "<Object name=\"a\" fetch=\"OnRequest\"/>" + end, "Object has no countref attribute",
       0},
      {once + "<Object name=\"a\" fetch=\"OnRequest\" countref=\"yes\"/>" + end,
       "Object has invalid countref value", 0},
      {once + "<Object name=\"a\" fetch=\"OnRequest\" countref=\"true\"/><Object name=\"b\"/>" +
           end,
       "Object has no fetch attribute", 1},
      {"<Infocast", "", 0},  // not well-formed: expat's reason follows
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    tracker_.messages.clear();
    EXPECT_EQ(c.objects, parser_.ParseXml(c.text).objects.size());
    if (c.error != nullptr) {
      EXPECT_TRUE(tracker_.Holds(TTracker::kError, std::string("TInfocastAdapter: ") + c.error));
    } else {
      EXPECT_TRUE(tracker_.messages.empty());
    }
  }
}

TEST_F(TInfocastConfigurationParserTest, XmlRecordsCarryFetchRulesAliasesAndTheirChannel) {
  const TInfocastConfiguration configuration = parser_.ParseXml(
      "<Infocast><Channel address=\"239.1.1.1\" port=\"5000\" connection=\"Reconnected\" "
      "interval=\"9\" timeout=\"3\"><Object name=\"p\" fetch=\"Prefetch\" countref=\"true\"/>"
      "<Object name=\"old\" fetch=\"OnRequest\" countref=\"true\"/></Channel>"
      "<Channel address=\"239.1.1.2\" port=\"5001\" connection=\"Persistent\"/>"
      "<Channel address=\"239.1.1.1\" port=\"5000\" connection=\"Once\">"
      "<Object name=\"q\" fetch=\"OnRequest\" countref=\"false\"/></Channel></Infocast>");
  EXPECT_EQ((std::vector<std::string>{"p/P/1/239.1.1.1:5000/1,9,3", "new/RC/1/239.1.1.1:5000/1,9,3",
                                      "q/R/1/239.1.1.1:5000/2,0,0"}),
            Describe(configuration));
  EXPECT_EQ(3u, configuration.channels.size());  // an object-less channel is a channel too
}

TEST_F(TInfocastConfigurationParserTest, ExtendedEntriesParseWithTheirWarnings) {
  struct TCase {
    std::string text;
    bool ok;
    int type;
    const char* name;
    const char* address;
    int port;
    const char* warning;
  } cases[] = {
      {"1'cfg.x", true, 1, "cfg.x", "", 0, nullptr},
      {"  C000'sub dir '239.1.1.1:5000", true, kDirectory, "sub dir", "239.1.1.1", 5000, nullptr},
      {"1 x'  name more", true, 1, "name", "", 0, nullptr},
      {"1' name '  10.0.0.1:  77", true, 1, "name", "10.0.0.1", 77, nullptr},
      {"1 var.x", false, 0, "", "", 0, "Didn't found a spearator between type and name"},
      {"   ", false, 0, "", "", 0, "Didn't found a spearator between type and name"},
      {"1'a'239.1.1.1", false, 1, "a", "", 0, "Didn't find a colon in the ip:port portion"},
      {"FFFFFFFFFFFF'a", true, INT_MAX, "a", "", 0, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    tracker_.messages.clear();
    TInfocastExtendedEntry entry{-1, "old", "old", -1};
    EXPECT_EQ(c.ok, parser_.ParseExtendedEntry(c.text, entry));
    EXPECT_EQ(c.type, entry.type);
    EXPECT_EQ(c.name, entry.name);
    EXPECT_EQ(c.address, entry.address);
    EXPECT_EQ(c.port, entry.port);
    if (c.warning != nullptr) {
      EXPECT_TRUE(tracker_.Holds(TTracker::kWarning, c.warning));
    }
  }
}

// A bad type is skipped with a warning, also with an empty name; an entry without apostrophe
// or a missing closing quote ends the text.
TEST_F(TInfocastConfigurationParserTest, ExtendedTextSkipsBadTypesAndStopsAtMalformedEntries) {
  const TInfocastConfiguration configuration = parser_.ParseExtended(
      "comment \"1'cfg.x\" \"C000'sub dir '239.1.1.1:5000\" \"7'var.x\" \"7'\" \"C000'\" "
      "\"1'old\" \"1 var.z\" \"1'var.w\"",
      "239.2.2.2", 6000);
  EXPECT_EQ((std::vector<std::string>{"cfg.x/P/1/239.2.2.2:6000/0,0,0",
                                      "sub dir/P/49152/239.1.1.1:5000/0,0,0",
                                      "/P/49152/239.2.2.2:6000/0,0,0", "new/P/1/239.2.2.2:6000/0,0,0"}),
            Describe(configuration));
  size_t skipped = 0;
  for (const auto& message : tracker_.messages) {
    skipped += message.second == "Objects with type 7 is not supported";
  }
  EXPECT_EQ(2u, skipped);

  tracker_.messages.clear();
  EXPECT_EQ(1u, parser_.ParseExtended("\"1'a\" \"1'b", "239.2.2.2", 6000).objects.size());
  EXPECT_TRUE(tracker_.Holds(TTracker::kError,
                             "Found a start token but didn't found end token in string [\"1'b]"));
}

}  // namespace
