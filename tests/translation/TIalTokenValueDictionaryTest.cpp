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
}

TEST_F(TIalTokenValueDictionaryTest, RetranslateTakesTheFirstOperatorTokenInTokenOrder) {
  auto dictionary = Load(Pair("Q", "B") + Pair("A", "B") + Pair("M", "B"));
  EXPECT_EQ("A", dictionary->Retranslate("B"));
}

TEST_F(TIalTokenValueDictionaryTest, EmptyPlatformTokenIsNoTranslation) {
  auto dictionary = Load(Pair("A", ""));
  EXPECT_FALSE(dictionary->IsIalTokenValue("A"));
  EXPECT_EQ("A", dictionary->Translate("A"));
  EXPECT_TRUE(dictionary->IsPlatformTokenValue(""));
  EXPECT_EQ("A", dictionary->Retranslate(""));
}

TEST_F(TIalTokenValueDictionaryTest, LaterPairForTheSameOperatorTokenWins) {
  auto dictionary = Load(Pair("A", "first") + Pair("A", "second"));
  EXPECT_EQ("second", dictionary->Translate("A"));
  EXPECT_FALSE(dictionary->IsPlatformTokenValue("first"));
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

TEST_F(TIalTokenValueDictionaryTest, LookupsOfUnknownValuesAddNothing) {
  auto dictionary = Load(Pair("A", "B"));
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(dictionary->IsIalTokenValue("unknown" + std::to_string(i)));
  }
  // An entry added by a lookup would have an empty platform token and would then match.
  EXPECT_FALSE(dictionary->IsPlatformTokenValue(""));
  EXPECT_EQ("A", dictionary->Retranslate("B"));
}

struct TFatalCase {
  const char* label;
  const char* content;  // nullptr: the file is not created
  const char* message;  // the trace must match this (a regular expression)
};

void PrintTo(const TFatalCase& fatalCase, std::ostream* out) { *out << fatalCase.label; }

// A death test runs again in a child process, in a temporary directory of its own.
const char kOpenError[] =
    "TIalTokenValueDictionary: Could not open file \".*/dictionary\\.xml\"\\.";

class TIalTokenValueDictionaryDeathTest : public ::testing::TestWithParam<TFatalCase> {};

TEST_P(TIalTokenValueDictionaryDeathTest, TracesFatalAndAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TTempDir dir;
  std::string path = dir.File("dictionary.xml");
  if (GetParam().content) test::WriteFile(path, GetParam().content);
  EXPECT_DEATH({ TIalTokenValueDictionary dictionary(path); }, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TIalTokenValueDictionaryDeathTest,
    ::testing::Values(
        TFatalCase{"Missing", nullptr, kOpenError}, TFatalCase{"Empty", "", kOpenError},
        TFatalCase{"WrongRoot", "<Dictionary/>",
                   "TIalTokenValueDictionary: Unknown root element in default adapter file\\."},
        TFatalCase{"WrongChild", "<Objects><Token/></Objects>",
                   "TIalTokenValueDictionary: Unknown element in default adapter file\\."},
        TFatalCase{"OnlyPlatformValue",
                   "<Objects><Object><PlatformValue>p</PlatformValue></Object></Objects>",
                   "TIalTokenValueDictionary: Unknown element in default adapter file\\."},
        TFatalCase{"OnlyOperatorValue",
                   "<Objects><Object><CorvantelaValue>o</CorvantelaValue></Object></Objects>",
                   "TIalTokenValueDictionary: Unknown element in default adapter file\\."},
        TFatalCase{"Malformed", "<Objects>&bad;</Objects>",
                   "TIalTokenValueDictionary: XML parse error at line 1"}),
    [](const ::testing::TestParamInfo<TFatalCase>& info) { return info.param.label; });

}  // namespace

namespace {

TEST_F(TIalTokenValueDictionaryTest, ExampleFileLoads) {
  TIalTokenValueDictionary dictionary(INFOSERVICE_SOURCE_DIR
                                      "/examples/ial_token_value_dictionary.xml");
  EXPECT_TRUE(dictionary.ShouldTranslate("cfg.video.aspectratio"));
  EXPECT_EQ("16:9", dictionary.Translate("WIDE"));
  EXPECT_EQ("NORMAL", dictionary.Retranslate("4:3"));
}

}  // namespace
