#include <gtest/gtest.h>

#include <map>
#include <string>

#include "adapters/TProcProdAdapter.h"
#include "adapters/TSingleProcFileValue.h"
#include "tests/adapters/AdapterTestSupport.h"

namespace {

using TFiles = std::map<std::string, std::string>;

class TProcProdAdapterTest : public ::testing::Test {
 protected:
  // A parameter directory holding exactly `files`, read by a fresh adapter.
  TProcProdAdapter& Load(const TFiles& files, bool host = false) {
    for (const auto& [name, content] : files) test::WriteFile(dir_.File(name), content);
    adapter_ = std::make_unique<TProcProdAdapter>(nullptr, host, dir_.Path());
    adapter_->InitializeObjects();
    return *adapter_;
  }
  std::string Get(const std::string& name) const { return test::ValueOf(*adapter_, name); }
  test::TTempDir dir_;
  std::unique_ptr<TProcProdAdapter> adapter_;
};

TEST_F(TProcProdAdapterTest, ReadsTheTableAndDerivesTheProductObjects) {
  Load({{"serialnumber", "SN0042"},
        {"model", "NMB1910 HD"},
        {"manufacturer", "Acme"},
        {"currentvideomode", "CVBS"},
        {"ipconfigmethod", "Fixed"},
        {"bootimagecomp", "3"},
        {"hdmi", "Yes"}});
  EXPECT_EQ("SN0042", Get("const.hw.serialnumber"));
  EXPECT_EQ("NMB1910 HD", Get("config.productname"));
  EXPECT_EQ("nm-box-rev-3", Get("const.hw.productname"));
  EXPECT_EQ("Acme NMB1910 HD", Get("config.productdisplayname"));
  EXPECT_EQ("Video", Get("cfg.media.tv.output"));
  EXPECT_EQ("Fixed", Get("_fw.cfg.ip.eth0.mode"));
  EXPECT_EQ("Static", adapter_->TranslateFromProc("_fw.ip.eth0.mode", "Fixed"));
  EXPECT_EQ("true", Get("const.capabilities.hdmi"));
  EXPECT_EQ("true", Get("const.capabilities.decoder.avc"));
  EXPECT_FALSE(adapter_->HasObject("const.hw.version"));
  EXPECT_FALSE(adapter_->IsStorageType(IInformationAdapter::TStorageType(0)));
  Load({}, true);  // the host environment holds nothing
  EXPECT_FALSE(adapter_->HasObject("const.hw.serialnumber"));
  EXPECT_FALSE(adapter_->HasObject("const.hw.productname"));
}

TEST_F(TProcProdAdapterTest, EmptyDirectoryStillHoldsTheDerivedObjects) {
  Load({});
  EXPECT_EQ("nm-box-rev-2", Get("const.hw.productname"));
  EXPECT_EQ(" ", Get("config.productdisplayname"));
  EXPECT_EQ("", Get("const.hw._hdmi"));
  EXPECT_EQ("false", Get("const.capabilities.hdmi"));
}

struct TRuleCase {
  TFiles files;
  const char* object;
  const char* expected;
};

TEST_F(TProcProdAdapterTest, ParameterRules) {
  const TRuleCase cases[] = {
      {{{"currentvideomode", "SVIDEO"}}, "cfg.media.tv.output", "S-Video"},
      {{{"currentvideomode", "cvbs"}}, "cfg.media.tv.output", "cvbs"},
      {{{"currentvideomode", "CVBS\n"}}, "cfg.media.tv.output", "CVBS\n"},
      {{{"serialnumber", "SN1\n"}}, "const.hw.serialnumber", "SN1\n"},
      {{{"bootimagecomp", ""}}, "const.hw.productname", "nm-box-rev-"},
      {{{"dvbnim", "No"}}, "const.capabilities.dtt", "false"},
      {{{"dvbnim", "no"}}, "const.capabilities.dtt", "true"},
      {{}, "const.capabilities.dtt", "false"},
      {{{"model", "NMB1910"}}, "const.capabilities.decoder.avc", "false"},
      {{{"model", "NMB19"}}, "const.capabilities.decoder.avc", "true"},
      {{{"model", "NMB 19 "}}, "const.capabilities.decoder.avc", "true"},
      {{{"model", "XNMB19"}}, "const.capabilities.decoder.avc", "false"},
      {{{"dsp", "No"}}, "const.capabilities.decoder.avc", "false"},
      {{{"dsp", "C64"}}, "const.capabilities.decoder.avc", "true"},
      {{{"mainprocessor", "QT4410 rev B"}}, "const.capabilities.macrovision", "true"},
      {{{"mainprocessor", "QT441"}}, "const.capabilities.macrovision", "false"},
      {{{"rfmodulator", "Yes"}}, "const.capabilities.rf", "true"},
  };
  for (const TRuleCase& c : cases) {
    test::TTempDir fresh;
    for (const auto& [name, content] : c.files) test::WriteFile(fresh.File(name), content);
    TProcProdAdapter adapter(nullptr, false, fresh.Path());
    adapter.InitializeObjects();
    EXPECT_EQ(c.expected, test::ValueOf(adapter, c.object))
        << c.object << " from " << c.files.size() << " file(s)";
  }
}

TEST(TSingleProcFileValueTest, ReadsWholeFilesBelow1024BytesOnly) {
  test::TTempDir dir;
  test::WriteFile(dir.File("fits"), std::string(1023, 'a'));
  test::WriteFile(dir.File("full"), std::string(1024, 'b'));
  TSingleProcFileValue fits(dir.Path(), "fits");
  ASSERT_TRUE(fits.Read());
  EXPECT_EQ(std::string(1023, 'a'), fits.GetValue());
  TSingleProcFileValue full(dir.Path(), "full");
  EXPECT_FALSE(full.Read());
  EXPECT_STREQ("", full.GetValue());
  TSingleProcFileValue missing(dir.Path(), "missing");
  EXPECT_FALSE(missing.Read());
}

TEST(TSingleProcFileValueTest, PathsOver127CharactersAreRefusedNotCut) {
  test::TScopedProcessTracker scoped;
  test::TTempDir dir;
  const size_t room = TSingleProcFileValue::kMaxPathLength - dir.Path().size() - 1;
  const std::string longest(room, 'p');
  test::WriteFile(dir.File(longest), "kept");
  test::WriteFile(dir.File(longest + "q"), "too far");
  // Cutting the longer name would open the first file.
  TSingleProcFileValue atLimit(dir.Path(), longest);
  EXPECT_TRUE(atLimit.Read());
  TSingleProcFileValue overLimit(dir.Path(), longest + "q");
  EXPECT_FALSE(overLimit.Read());
  EXPECT_TRUE(scoped.Tracker().Holds(TTracker::kError, "longer than 127 characters"));
}

}  // namespace
