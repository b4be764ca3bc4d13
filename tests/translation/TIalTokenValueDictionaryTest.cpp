#include <gtest/gtest.h>

#include <string>

#include "tests/TestSupport.h"
#include "translation/TIalTokenValueDictionary.h"

namespace {

std::string Pair(const std::string& operatorToken, const std::string& platformToken) {
  return "<Object><PlatformValue>" + platformToken + "</PlatformValue><CorvantelaValue>" +
         operatorToken + "</CorvantelaValue></Object>";
}

std::string NameEntry(const std::string& name) {
  return "<Object><Name>" + name + "</Name></Object>";
}

TEST(TIalTokenValueDictionaryTest, NoFileMeansNoTranslationAndOneWarning) {
  test::TScopedProcessTracker tracker;
  TIalTokenValueDictionary dictionary("");
  EXPECT_EQ(1u, tracker.Tracker().messages.size());
  EXPECT_FALSE(dictionary.ShouldTranslate("cfg.a"));
  EXPECT_EQ("A", dictionary.Translate("A"));
  EXPECT_EQ("A", dictionary.Retranslate("A"));
}

// Several operator tokens for one platform token: Retranslate takes the first in token
// order. One operator token in several pairs: the last pair wins. An empty platform token is
// no translation. A pair's Name is ignored; a lone PlatformValue beside a Name makes a name
// entry.
TEST(TIalTokenValueDictionaryTest, PairsTranslateBothWaysAndNamesAreToldApart) {
  test::TTempDir dir;
  test::WriteFile(dir.File("d.xml"),
                  "<Objects>" + Pair("Q", "B") + Pair("A", "B") + Pair("M", "B") +
                      Pair("C", "first") + Pair("C", "second") + Pair("E", "") +
                      NameEntry("cfg.video.mode") +
                      "<Object><Name>cfg.pair.name</Name><PlatformValue>p</PlatformValue>"
                      "<CorvantelaValue>o</CorvantelaValue></Object>"
                      "<Object><Name>cfg.audio</Name><PlatformValue>ignored</PlatformValue>"
                      "</Object>" +
                      NameEntry("cfg.video.mode") + "</Objects>");
  TIalTokenValueDictionary loaded(dir.File("d.xml"));
  const IIalTokenValueDictionary& dictionary = loaded;
  EXPECT_TRUE(dictionary.IsIalTokenValue("A"));
  EXPECT_FALSE(dictionary.IsIalTokenValue("B"));
  EXPECT_TRUE(dictionary.IsPlatformTokenValue("B"));
  EXPECT_FALSE(dictionary.IsPlatformTokenValue("A"));
  EXPECT_EQ("B", dictionary.Translate("A"));
  EXPECT_EQ("B", dictionary.Translate("B"));
  EXPECT_EQ("A", dictionary.Retranslate("B"));
  EXPECT_EQ("A", dictionary.Retranslate("A"));
  EXPECT_EQ("a", dictionary.Translate("a"));
  // An entry added by a lookup would have an empty platform token and would then match.
  EXPECT_FALSE(dictionary.IsIalTokenValue("unknown"));
  EXPECT_EQ("second", dictionary.Translate("C"));
  EXPECT_FALSE(dictionary.IsPlatformTokenValue("first"));
  EXPECT_FALSE(dictionary.IsIalTokenValue("E"));
  EXPECT_EQ("E", dictionary.Translate("E"));
  EXPECT_EQ("E", dictionary.Retranslate(""));
  EXPECT_TRUE(dictionary.ShouldTranslate("cfg.video.mode"));
  EXPECT_TRUE(dictionary.ShouldTranslate("cfg.audio"));
  EXPECT_FALSE(dictionary.ShouldTranslate("cfg.pair.name"));
  EXPECT_FALSE(dictionary.ShouldTranslate("CFG.VIDEO.MODE"));
  EXPECT_EQ("p", dictionary.Translate("o"));
  EXPECT_FALSE(dictionary.IsPlatformTokenValue("ignored"));
}

TEST(TIalTokenValueDictionaryDeathTest, FaultyFilesTraceFatalAndAbort) {
  const char* const openError =
      "TIalTokenValueDictionary: Could not open file \".*/dictionary\\.xml\"\\.";
  const char* const unknown =
      "TIalTokenValueDictionary: Unknown element in default adapter file\\.";
  test::ExpectEachFileIsFatal(
      "dictionary.xml",
      {{nullptr, openError},
       {"", openError},
       {"<Dictionary/>",
        "TIalTokenValueDictionary: Unknown root element in default adapter file\\."},
       {"<Objects><Token/></Objects>", unknown},
       {"<Objects><Object><PlatformValue>p</PlatformValue></Object></Objects>", unknown},
       {"<Objects><Object><CorvantelaValue>o</CorvantelaValue></Object></Objects>", unknown},
       {"<Objects>&bad;</Objects>", "TIalTokenValueDictionary: XML parse error at line 1"}},
      [](const std::string& path) { TIalTokenValueDictionary dictionary(path); });
}

}  // namespace
