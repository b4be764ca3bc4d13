#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/TDefaultAdapter.h"
#include "tests/adapters/AdapterTestSupport.h"

namespace {

class TDefaultAdapterTest : public ::testing::Test {
 protected:
  void Load(const char* content) {
    test::WriteFile(dir_.File("defaults.xml"), content);
    adapter_ = std::make_unique<TDefaultAdapter>(dir_.File("defaults.xml"));
    adapter_->SetCallback(&callback_);
    adapter_->InitializeObjects();
  }
  std::string Get(const std::string& name) const { return test::ValueOf(*adapter_, name); }
  test::TTempDir dir_;
  test::TRecordingCallback callback_;
  std::unique_ptr<TDefaultAdapter> adapter_;
};

// The UI locale also gives the UI language, converted to its three-letter code.
TEST_F(TDefaultAdapterTest, LoadsObjectsWithoutReportingThem) {
  Load(
      "<?xml version=\"1.0\"?>\n"
      "<Objects>\n"
      "  <Object><Name>cfg.a</Name><Value>1</Value></Object>\n"
      "  <Object><Value>two &amp; more</Value><Extra/><Name>cfg.b</Name></Object>\n"
      "  <Object><Name>cfg.empty</Name><Value></Value></Object>\n"
      "  <Object><Name>cfg.a</Name><Value>later</Value></Object>\n"
      "  <Object><Name>cfg.locale.ui</Name><Value>sv-SE</Value></Object>\n"
      "</Objects>\n");
  EXPECT_TRUE(callback_.reports.empty());
  EXPECT_EQ("later", Get("cfg.a"));
  EXPECT_EQ("two & more", Get("cfg.b"));
  EXPECT_TRUE(adapter_->HasObject("cfg.empty"));
  EXPECT_EQ("", Get("cfg.empty"));
  EXPECT_EQ("swe", Get("config.uilanguage"));
  adapter_->EnumerateObjects();
  EXPECT_EQ((std::vector<std::string>{"enumerate cfg.a", "enumerate cfg.b", "enumerate cfg.empty",
                                      "enumerate cfg.locale.ui", "enumerate config.uilanguage"}),
            callback_.reports);
}

TEST(TDefaultAdapterDeathTest, UnreadableOrMalformedFilesStopTheProcess) {
  const char* const openError = "TDefaultAdapter: Could not open file";
  const char* const unknown = "TDefaultAdapter: Unknown element in default adapter file\\.";
  test::ExpectEachFileIsFatal(
      "defaults.xml",
      {{nullptr, openError},
       {"", openError},
       {"<Objects><Object>", "TDefaultAdapter: "},
       {"<Defaults/>", "TDefaultAdapter: Unknown root element in default adapter file\\."},
       {"<Objects><Thing/></Objects>", unknown},
       {"<Objects><Object><Name>a</Name></Object></Objects>", unknown},
       {"<Objects><Object><Value>1</Value></Object></Objects>", unknown}},
      [](const std::string& path) {
        TDefaultAdapter adapter(path);
        adapter.InitializeObjects();
      });
}

}  // namespace
