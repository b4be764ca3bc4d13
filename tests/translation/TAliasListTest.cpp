#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/TestSupport.h"
#include "translation/TAliasList.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string AliasFile(const Pairs& entries) {
  std::string text = "<?xml version=\"1.0\"?>\n<Objects>\n";
  for (const auto& entry : entries) {
    text +=
        "  <Object><Name>" + entry.first + "</Name><Alias>" + entry.second + "</Alias></Object>\n";
  }
  return text + "</Objects>\n";
}

class TAliasListTest : public ::testing::Test {
 protected:
  TAliasList Load(const std::string& content) {
    test::WriteFile(dir_.File("aliases.xml"), content);
    return TAliasList(dir_.File("aliases.xml"));
  }

  test::TScopedProcessTracker tracker_;
  test::TTempDir dir_;
};

TEST_F(TAliasListTest, NoFileMeansIdentityAndOneWarning) {
  TAliasList aliases("");
  ASSERT_EQ(1u, tracker_.Tracker().messages.size());
  EXPECT_EQ(TTracker::kWarning, tracker_.Tracker().messages[0].first);
  EXPECT_EQ("TAliasList::Initialize() no alias available.", tracker_.Tracker().messages[0].second);
  EXPECT_EQ(TStringList{"cfg.a"}, aliases.Translate("cfg.a"));
  EXPECT_EQ(TStringList{"cfg.a"}, aliases.Retranslate("cfg.a"));
  EXPECT_FALSE(aliases.HasAlias("cfg.a") || aliases.IsAlias("cfg.a"));
  // A file without objects is an empty list, and no warning.
  tracker_.Tracker().messages.clear();
  EXPECT_FALSE(Load("<Objects/>").HasAlias("A"));
  EXPECT_TRUE(tracker_.Tracker().messages.empty());
}

// Aliases of a name keep file order, names of an alias come in name order, and a duplicated
// pair counts twice.
TEST_F(TAliasListTest, AliasesInFileOrderNamesInNameOrderDuplicatesKept) {
  TAliasList aliases = Load(AliasFile({{"A", "Y"},
                                       {"C", "X"},
                                       {"B", "Z"},
                                       {"A", "X"},
                                       {"A", "W"},
                                       {"B", "X"},
                                       {"D", "V"},
                                       {"D", "V"}}));
  EXPECT_EQ((TStringList{"Y", "X", "W"}), aliases.Translate("A"));
  EXPECT_TRUE(aliases.HasMultipleAliases("A"));
  EXPECT_EQ(TStringList{"X"}, aliases.Translate("C"));
  EXPECT_FALSE(aliases.HasMultipleAliases("C"));
  EXPECT_EQ((TStringList{"A", "B", "C"}), aliases.Retranslate("X"));
  EXPECT_TRUE(aliases.IsMultipleAlias("X"));
  EXPECT_EQ(TStringList{"B"}, aliases.Retranslate("Z"));
  EXPECT_FALSE(aliases.IsMultipleAlias("Z"));
  EXPECT_EQ((TStringList{"V", "V"}), aliases.Translate("D"));
  EXPECT_EQ((TStringList{"D", "D"}), aliases.Retranslate("V"));
  EXPECT_TRUE(aliases.IsMultipleAlias("V"));
}

TEST_F(TAliasListTest, UnknownNamesAndNonAliasesTranslateToThemselves) {
  TAliasList aliases = Load(AliasFile({{"cfg.name", "cfg.alias"}}));
  EXPECT_EQ(TStringList{"cfg.other"}, aliases.Translate("cfg.other"));
  // A name is not an alias: retranslating it gives it back unchanged.
  EXPECT_EQ(TStringList{"cfg.name"}, aliases.Retranslate("cfg.name"));
  EXPECT_FALSE(aliases.IsAlias("cfg.name"));
  EXPECT_FALSE(aliases.HasAlias("cfg.alias"));
  // Exact matching only: no case folding, no prefixes.
  EXPECT_EQ(TStringList{"CFG.NAME"}, aliases.Translate("CFG.NAME"));
  EXPECT_EQ(TStringList{"cfg"}, aliases.Translate("cfg"));
}

TEST_F(TAliasListTest, TextsAreTakenUnchangedAndExtraChildrenIgnored) {
  TAliasList aliases = Load(
      "<Objects><Object><Comment>why</Comment><Name> a &amp; b </Name>"
      "<Alias>x\xC3\xA9</Alias></Object><Object><Name/><Alias>empty</Alias></Object></Objects>");
  EXPECT_EQ(TStringList{"x\xC3\xA9"}, aliases.Translate(" a & b "));
  EXPECT_EQ(TStringList{"empty"}, aliases.Translate(""));
}

// Each faulty file stops the process after a fatal trace.
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

TEST_F(TAliasListTest, ExampleFileLoads) {
  TAliasList aliases(INFOSERVICE_SOURCE_DIR "/examples/aliases.xml");
  EXPECT_EQ(TStringList{"cfg.locale.ui"}, aliases.Translate("cfg.ui.language"));
  EXPECT_EQ(TStringList{"cfg.ui.language"}, aliases.Retranslate("cfg.locale.ui"));
}

}  // namespace
