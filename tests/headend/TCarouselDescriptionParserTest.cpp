#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "base/TException.h"
#include "headend/TCarouselDescriptionParser.h"
#include "tests/TestSupport.h"

namespace {

using TMode = TCarouselDescriptionParser::TMode;
const TMode kXml = TMode::kNormal, kExt = TMode::kOpch;
std::string Xml(const std::string& objects, const std::string& channel = "rate=\"256k\"") {
  return "<Infocast>\n  <Channel address=\"239.1.1.1\" port=\"5001\" connection=\"Persistent\" " +
         channel + ">\n" + objects + "  </Channel>\n</Infocast>\n";
}
std::string Obj(const std::string& name, const std::string& extra = " file=\"a\"") {
  return "    <Object name=\"" + name + "\" fetch=\"Prefetch\"" + extra + "/>\n";
}

class TCarouselDescriptionParserTest : public ::testing::Test {
 protected:
  TCarouselDescriptionParserTest() { test::WriteFile(dir_.File("a"), "alpha"); }
  TCarouselPlan Parse(TMode mode, const std::string& text) {
    test::WriteFile(dir_.File("d"), text);
    TCarouselDescriptionParser::TSettings settings{mode};
    return TCarouselDescriptionParser(settings, &TCarouselDescriptionParser::ReadFile)
        .Parse(dir_.File("d"));
  }
  test::TTempDir dir_;
};

TEST_F(TCarouselDescriptionParserTest,
       RefusesBadInputNamingFileAndLineAndSendsNoHeadEndAttributes) {
  test::WriteFile(dir_.File("huge"), "");
  ASSERT_EQ(truncate(dir_.File("huge").c_str(), (16 << 20) + 1), 0);
  const std::tuple<TMode, std::string, int, const char*> kCases[] = {
      {kXml, Xml(Obj("cfg.a") + Obj("cfg.b", " file=\"none\"")), 4, "cannot open"},
      {kXml, Xml(Obj("cfg.h", " file=\"huge\"")), 3, "16777217 bytes"},
      {kXml, Xml(Obj("cfg.a234567890123456789012345678")), 3, "longer than 29"},
      {kXml, Xml(Obj("cfg.a") + Obj("cfg.a")), 4, "twice on 239.1.1.1:5001"},
      {kXml, Xml(Obj("cfg.a")) + Xml(Obj("cfg.a")), 6, "junk after document"},
      {kXml, Xml(Obj("cfg.a"), "rate=\"11199\""), 2, "below one datagram"},
      {kExt, "\"1'cfg.a\" file=a\n\n\"1'cfg.a\" file=a\n", 3, "twice on 127.0.0.1:5000"},
      {kExt, "\"1'cfg.a'239.1.1:5001\" file=a rate=1M\n", 1, "not dotted IPv4"},
      {kExt, "\n\"1'cfg.a'239.1.1.1:5001\" file=a\n", 2, "has no rate"},
      {kExt, "\"1'cfg.a\" file=a comment\n", 1, "'comment' is not a head-end attribute"},
      {kExt, "\"1'cfg.a\" file=a\n\"1'cfg.b", 2, "closing quote"},
      {kExt, "\"C000'sub\" file=d\n", 1, "named twice"},  // a directory holding itself
  };
  for (const auto& [mode, text, line, reason] : kCases) {
    std::string refusal;
    try {
      Parse(mode, text);
    } catch (const TException& failure) {
      refusal = failure.GetText();
    }
    const std::string where = dir_.File("d") + ":" + std::to_string(line) + ": ";
    EXPECT_TRUE(refusal.rfind(where, 0) == 0 && refusal.find(reason) != std::string::npos)
        << text << " -> " << refusal;
  }
}

}  // namespace
