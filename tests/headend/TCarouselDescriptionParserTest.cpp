#include "headend/TCarouselDescriptionParser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "base/TException.h"
#include "tests/TestSupport.h"

namespace {

using TMode = TCarouselDescriptionParser::TMode;

class TCarouselDescriptionParserTest : public ::testing::Test {
 protected:
  TCarouselDescriptionParserTest() {
    test::WriteFile(dir_.File("a"), "alpha");
    test::WriteFile(dir_.File("b"), std::string(3000, 'b'));
  }

  TCarouselPlan Parse(TMode mode, const std::string& text) {
    test::WriteFile(dir_.File("d"), text);
    TCarouselDescriptionParser::TSettings settings;
    settings.mode = mode;
    return TCarouselDescriptionParser(settings, &TCarouselDescriptionParser::ReadFile)
        .Parse(dir_.File("d"));
  }

  // The refusal's text, or "" when the description was taken.
  std::string Refusal(TMode mode, const std::string& text) {
    try {
      Parse(mode, text);
    } catch (const TException& failure) {
      return failure.GetText();
    }
    return "";
  }

  test::TTempDir dir_;
};

std::string Xml(const std::string& channel, const std::string& objects) {
  return "<Infocast>\n  <Channel " + channel + ">\n" + objects + "  </Channel>\n</Infocast>\n";
}

const char kChannel[] = "address=\"239.1.1.1\" port=\"5001\" connection=\"Persistent\" rate=\"256k\"";

TEST_F(TCarouselDescriptionParserTest, RefusesBadInputNamingFileAndLine) {
  const std::string ok = "    <Object name=\"cfg.a\" fetch=\"Prefetch\" file=\"a\"/>\n";
  const std::string huge = dir_.File("huge");
  test::WriteFile(huge, "");
  ASSERT_EQ(truncate(huge.c_str(), (16 << 20) + 1), 0);
  const struct {
    TMode mode;
    std::string text;
    int line;
    std::string reason;
  } kCases[] = {
      {TMode::kNormal, Xml(kChannel, ok + "    <Object name=\"cfg.b\" fetch=\"Prefetch\" file=\"none\"/>\n"), 4, "cannot open"},
      {TMode::kNormal, Xml(kChannel, "    <Object name=\"cfg.h\" fetch=\"Prefetch\" file=\"huge\"/>\n"), 3, "16777217 bytes"},
      {TMode::kNormal, Xml(kChannel, "    <Object name=\"cfg.a234567890123456789012345678\" fetch=\"Prefetch\" file=\"a\"/>\n"), 3, "longer than 29"},
      {TMode::kNormal, Xml(kChannel, ok + ok), 4, "twice on 239.1.1.1:5001"},
      {TMode::kNormal, Xml(kChannel, ok) + Xml(kChannel, ok), 6, "junk after document"},
      {TMode::kNormal, Xml("address=\"239.1.1.1\" port=\"5001\" connection=\"Persistent\" rate=\"11199\"", ok), 2, "below one datagram"},
      {TMode::kNormal, Xml("address=\"239.1.1\" port=\"5001\" connection=\"Persistent\" rate=\"1M\"", ok), 2, "invalid IP address"},
      {TMode::kNormal, Xml("address=\"239.1.1.1\" port=\"5001\" connection=\"Persistent\"", ok), 2, "no rate"},
      {TMode::kNormal, Xml(kChannel, "    <Object name=\"cfg.a\" fetch=\"Prefetch\" file=\"a\" valid=\"9-1\"/>\n"), 3, "ends before"},
      {TMode::kNormal, Xml(kChannel, "    <Object name=\"cfg.a\" fetch=\"Prefetch\"/>\n"), 3, "has no file"},
      {TMode::kNormal, Xml(kChannel, "    <Object name=\"cfg.a\" fetch=\"Sometimes\" file=\"a\"/>\n"), 3, "invalid fetch"},
      {TMode::kOpch, "text\n\"1'cfg.a\" file=none\n", 2, "cannot open"},
      {TMode::kOpch, "\"1'cfg.a234567890123456789012345678\" file=a\n", 1, "longer than 29"},
      {TMode::kOpch, "\"1'cfg.a\" file=a\n\n\"1'cfg.a\" file=b\n", 3, "twice on 127.0.0.1:5000"},
      {TMode::kOpch, "\"1'cfg.a'239.1.1.1:5001\" file=a rate=100\n", 1, "below one datagram"},
      {TMode::kOpch, "\"1'cfg.a'239.1.1:5001\" file=a rate=1M\n", 1, "not dotted IPv4"},
      {TMode::kOpch, "\n\"1'cfg.a'239.1.1.1:5001\" file=a\n", 2, "has no rate"},
      {TMode::kOpch, "\"1'cfg.a\" file=a comment\n", 1, "'comment' is not a head-end attribute"},
      {TMode::kOpch, "\"7'cfg.a\" file=a\n", 1, "neither 1 nor C000"},
      {TMode::kOpch, "\"1 cfg.a\" file=a\n", 1, "without TYPE'NAME"},
      {TMode::kOpch, "\"1'cfg.a\" file=a\n\"1'cfg.b", 2, "closing quote"},
      {TMode::kOpch, "\"C000'sub\" file=d\n", 1, "named twice"},  // a directory holding itself
  };
  for (const auto& c : kCases) {
    const std::string refusal = Refusal(c.mode, c.text);
    EXPECT_EQ(refusal.rfind(dir_.File("d") + ":" + std::to_string(c.line) + ": ", 0), 0u)
        << c.text << " -> " << refusal;
    EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.text << " -> " << refusal;
  }
}

TEST_F(TCarouselDescriptionParserTest, NormalModeSendsTheXmlWithoutHeadEndAttributes) {
  const TCarouselPlan plan =
      Parse(TMode::kNormal,
            Xml(kChannel,
                "    <Object name=\"cfg.a\" fetch=\"Prefetch\" file=\"a\" valid=\"10-20\" "
                "target=\"Z=UTC\" precoding=\"0x4000\"/>\n"
                "    <Object name=\"var.b\" fetch=\"OnRequest\" countref=\"true\" file=\"b\"/>\n"));
  ASSERT_EQ(plan.channels.size(), 2u);
  const TCarouselObject& root = plan.channels[0].objects.at(0);
  EXPECT_EQ(plan.channels[0].Key(), "127.0.0.1:5000");
  EXPECT_EQ(root.name, "infocast2.conf");
  EXPECT_EQ(root.type, 1);
  for (const char* gone : {"rate", "file", "valid", "target", "precoding"}) {
    EXPECT_EQ(root.data.find(gone), std::string::npos) << root.data;
  }
  for (const char* kept : {"address=\"239.1.1.1\"", "connection=\"Persistent\"",
                           "countref=\"true\"", "name=\"var.b\"", "fetch=\"OnRequest\""}) {
    EXPECT_NE(root.data.find(kept), std::string::npos) << root.data;
  }
  const TCarouselChannel& channel = plan.channels[1];
  EXPECT_EQ(channel.rateBitsPerSecond, 256000u);
  ASSERT_EQ(channel.objects.size(), 2u);
  const TCarouselObject& a = channel.objects[0];
  EXPECT_EQ(a.data, "alpha");
  EXPECT_EQ(a.precoding, 0x4000);
  EXPECT_TRUE(a.hasTimeFilter);
  EXPECT_EQ(a.validStart, 10u);
  EXPECT_EQ(a.validEnd, 20u);
  EXPECT_EQ(a.targetFilter, "Z=UTC");
  EXPECT_EQ(channel.objects[1].data.size(), 3000u);
  EXPECT_EQ(plan.files.size(), 3u);
}

TEST_F(TCarouselDescriptionParserTest, OpchModeSendsExtendedTextsWithDirectories) {
  test::WriteFile(dir_.File("sub"), "inner\n\"1'var.s\" file=b\n");
  const TCarouselPlan plan = Parse(TMode::kOpch,
                                   "comment\n\"1'cfg.a\" file=a\n"
                                   "\"C000'my dir'239.1.1.2:5002\" file=sub rate=64k\n");
  ASSERT_EQ(plan.channels.size(), 2u);
  const auto& meta = plan.channels[0].objects;
  ASSERT_EQ(meta.size(), 2u);
  EXPECT_EQ(meta[0].name, "velmora-nm-box-rev-2");
  EXPECT_EQ(meta[0].type, 0xC000);
  EXPECT_EQ(meta[0].data, "comment\n\"1'cfg.a\"\n\"C000'my dir'239.1.1.2:5002\"\n");
  EXPECT_EQ(meta[1].name, "cfg.a");
  const auto& sub = plan.channels[1].objects;
  EXPECT_EQ(plan.channels[1].rateBitsPerSecond, 64000u);
  ASSERT_EQ(sub.size(), 2u);  // the entry without address travels with its directory's text
  EXPECT_EQ(sub[0].name, "var.s");
  EXPECT_EQ(sub[1].name, "my dir");
  EXPECT_EQ(sub[1].type, 0xC000);
  EXPECT_EQ(sub[1].data, "inner\n\"1'var.s\"\n");
}

TEST_F(TCarouselDescriptionParserTest, RatesTakeSuffixes) {
  EXPECT_EQ(TCarouselDescriptionParser::ParseRate("256k"), 256000u);
  EXPECT_EQ(TCarouselDescriptionParser::ParseRate("10M"), 10000000u);
  EXPECT_EQ(TCarouselDescriptionParser::ParseRate("1500"), 1500u);
  for (const char* bad : {"", "k", "1.5M", "0x10", "-1", "10G", "200000M"}) {
    EXPECT_THROW(TCarouselDescriptionParser::ParseRate(bad), TException) << bad;
  }
}

}  // namespace
