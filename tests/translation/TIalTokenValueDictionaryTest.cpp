#include <gtest/gtest.h>

#include <memory>
#include <ostream>
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

class TIalTokenValueDictionaryTest : public ::testing::Test {
 protected:
  std::unique_ptr<TIalTokenValueDictionary> Load(const std::string& objects) {
    test::WriteFile(dir_.File("dictionary.xml"), "<Objects>\n" + objects + "\n</Objects>");
    return std::make_unique<TIalTokenValueDictionary>(dir_.File("dictionary.xml"));
  }

  test::TScopedProcessTracker tracker_;
  test::TTempDir dir_;
};

TEST_F(TIalTokenValueDictionaryTest, NoFileMeansNoTranslationAndOneWarning) {
  TIalTokenValueDictionary dictionary("");
  ASSERT_EQ(1u, tracker_.Tracker().messages.size());
  EXPECT_EQ("TIalTokenValueDictionary::Initialize() no dictionary file available.",
            tracker_.Tracker().messages[0].second);
  EXPECT_FALSE(dictionary.ShouldTranslate("cfg.a"));
  EXPECT_EQ("A", dictionary.Translate("A"));
  EXPECT_EQ("A", dictionary.Retranslate("A"));
}

TEST_F(TIalTokenValueDictionaryTest, PairTranslatesOneWayAndBack) {
  auto dictionary = Load(Pair("A", "B"));
  const IIalTokenValueDictionary& interface = *dictionary;
  EXPECT_TRUE(interface.IsIalTokenValue("A"));
  EXPECT_FALSE(interface.IsIalTokenValue("B"));
  EXPECT_TRUE(interface.IsPlatformTokenValue("B"));
  EXPECT_FALSE(interface.IsPlatformTokenValue("A"));
  EXPECT_EQ("B", interface.Translate("A"));
  EXPECT_EQ("B", interface.Translate("B"));
  EXPECT_EQ("A", interface.Retranslate("B"));
  EXPECT_EQ("A", interface.Retranslate("A"));
  EXPECT_EQ("a", interface.Translate("a"));
  // An entry added by a lookup would have an empty platform token and would then match.
  EXPECT_FALSE(interface.IsIalTokenValue("unknown"));
  EXPECT_FALSE(interface.IsPlatformTokenValue(""));
}

// Several operator tokens for one platform token: Retranslate takes the first in token
// order. One operator token in several pairs: the last pair wins.
TEST_F(TIalTokenValueDictionaryTest, RetranslateTakesFirstOperatorTokenAndLastPairWins) {
  auto dictionary = Load(Pair("Q", "B") + Pair("A", "B") + Pair("M", "B") + Pair("C", "first") +
                         Pair("C", "second"));
  EXPECT_EQ("A", dictionary->Retranslate("B"));
  EXPECT_EQ("second", dictionary->Translate("C"));
  EXPECT_FALSE(dictionary->IsPlatformTokenValue("first"));
}

TEST_F(TIalTokenValueDictionaryTest, EmptyPlatformTokenIsNoTranslation) {
  auto dictionary = Load(Pair("A", ""));
  EXPECT_FALSE(dictionary->IsIalTokenValue("A"));
  EXPECT_EQ("A", dictionary->Translate("A"));
  EXPECT_TRUE(dictionary->IsPlatformTokenValue(""));
  EXPECT_EQ("A", dictionary->Retranslate(""));
}

TEST_F(TIalTokenValueDictionaryTest, NameEntriesAndPairsAreToldApart) {
  auto dictionary =
      Load(NameEntry("cfg.video.mode") + Pair("PAL", "pal") +
           // A pair's Name is ignored; a lone PlatformValue beside a Name makes a name entry.
           "<Object><Name>cfg.pair.name</Name><PlatformValue>p</PlatformValue>"
           "<CorvantelaValue>o</CorvantelaValue></Object>"
           "<Object><Name>cfg.audio</Name><PlatformValue>ignored</PlatformValue></Object>" +
           NameEntry("cfg.video.mode"));
  EXPECT_TRUE(dictionary->ShouldTranslate("cfg.video.mode"));
  EXPECT_TRUE(dictionary->ShouldTranslate("cfg.audio"));
  EXPECT_FALSE(dictionary->ShouldTranslate("cfg.pair.name"));
  EXPECT_FALSE(dictionary->ShouldTranslate("CFG.VIDEO.MODE"));
  EXPECT_EQ("p", dictionary->Translate("o"));
  EXPECT_FALSE(dictionary->IsPlatformTokenValue("ignored"));
}

// Each faulty file stops the process after a fatal trace.
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

TEST_F(TIalTokenValueDictionaryTest, ExampleFileLoads) {
  TIalTokenValueDictionary dictionary(INFOSERVICE_SOURCE_DIR
                                      "/examples/ial_token_value_dictionary.xml");
  EXPECT_TRUE(dictionary.ShouldTranslate("cfg.video.aspectratio"));
  EXPECT_EQ("16:9", dictionary.Translate("WIDE"));
  EXPECT_EQ("NORMAL", dictionary.Retranslate("4:3"));
}

}  // namespace
