#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/TestSupport.h"
#include "translation/TAliasList.h"

namespace {

std::string AliasFile(const std::vector<std::pair<std::string, std::string>>& entries,
                      const std::string& extra = "") {
  std::string text = "<?xml version=\"1.0\"?>\n<Objects>\n" + extra;
  for (const auto& [name, alias] : entries) {
    text += "<Object><Name>" + name + "</Name><Alias>" + alias + "</Alias></Object>\n";
  }
  return text + "</Objects>\n";
}

TEST(TAliasListTest, NoFileMeansIdentityAndOneWarning) {
  test::TScopedProcessTracker tracker;
  TAliasList aliases("");
  ASSERT_EQ(1u, tracker.Tracker().messages.size());
  EXPECT_EQ(TTracker::kWarning, tracker.Tracker().messages[0].first);
  EXPECT_EQ(TStringList{"cfg.a"}, aliases.Translate("cfg.a"));
  EXPECT_EQ(TStringList{"cfg.a"}, aliases.Retranslate("cfg.a"));
  EXPECT_FALSE(aliases.HasAlias("cfg.a") || aliases.IsAlias("cfg.a"));
}

// Aliases of a name keep file order, names of an alias come in name order, a duplicated pair
// counts twice; unknown names translate to themselves, matching is exact, texts are taken
// unchanged and extra children are ignored.
TEST(TAliasListTest, TranslatesBothWaysInFileAndNameOrder) {
  test::TTempDir dir;
  test::WriteFile(dir.File("a.xml"),
                  AliasFile({{"A", "Y"},
                             {"C", "X"},
                             {"B", "Z"},
                             {"A", "X"},
                             {"A", "W"},
                             {"B", "X"},
                             {"D", "V"},
                             {"D", "V"}},
                            "<Object><Comment>why</Comment><Name> a &amp; b </Name>"
                            "<Alias>x\xC3\xA9</Alias></Object><Object><Name/><Alias>e</Alias>"
                            "</Object>"));
  TAliasList aliases(dir.File("a.xml"));
  EXPECT_EQ((TStringList{"Y", "X", "W"}), aliases.Translate("A"));
  EXPECT_TRUE(aliases.HasMultipleAliases("A"));
  EXPECT_FALSE(aliases.HasMultipleAliases("C"));
  EXPECT_EQ((TStringList{"A", "B", "C"}), aliases.Retranslate("X"));
  EXPECT_TRUE(aliases.IsMultipleAlias("X"));
  EXPECT_EQ(TStringList{"B"}, aliases.Retranslate("Z"));
  EXPECT_FALSE(aliases.IsMultipleAlias("Z"));
  EXPECT_EQ((TStringList{"V", "V"}), aliases.Translate("D"));
  EXPECT_EQ((TStringList{"D", "D"}), aliases.Retranslate("V"));
  EXPECT_TRUE(aliases.IsMultipleAlias("V"));
  EXPECT_TRUE(aliases.HasAlias("A") && aliases.IsAlias("Y"));
  EXPECT_FALSE(aliases.IsAlias("A") || aliases.HasAlias("Y"));
  EXPECT_EQ(TStringList{"A"}, aliases.Retranslate("A"));
  for (const char* plain : {"cfg.other", "a", "AB"}) {
    EXPECT_EQ(TStringList{plain}, aliases.Translate(plain)) << plain;
  }
  EXPECT_EQ(TStringList{"x\xC3\xA9"}, aliases.Translate(" a & b "));
  EXPECT_EQ(TStringList{"e"}, aliases.Translate(""));
}

TEST(TAliasListDeathTest, FaultyFilesTraceFatalAndAbort) {
  const char* const openError = "TAliasList: Could not open file \".*/aliases\\.xml\"\\.";
  const char* const unknown = "TAliasList: Unknown element in default adapter file\\.";
  test::ExpectEachFileIsFatal(
      "aliases.xml",
      {{nullptr, openError},
       {"", openError},
       {"<Aliases/>", "TAliasList: Unknown root element in default adapter file\\."},
       {"<Objects><Entry/></Objects>", unknown},
       {"<Objects><Object><Name>A</Name></Object></Objects>", unknown},
       {"<Objects><Object><Alias>A</Alias></Object></Objects>", unknown},
       {"<Objects><Object>", "TAliasList: XML parse error at line 1"}},
      [](const std::string& path) { TAliasList aliases(path); });
}

}  // namespace
