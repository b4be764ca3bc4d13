#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/TCorvantelaSyslogAdapter.h"
#include "adapters/TVolatileAdapter.h"
#include "base/TException.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/adapters/AdapterTestSupport.h"

namespace {

const char kUrl[] = "cfg.app.syslog.url";
const char kLevel[] = "cfg.app.syslog.level";

class TCorvantelaSyslogAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The home path the "is://~" URLs read comes from another adapter of the service.
    service_.AddAdapter(std::make_unique<TVolatileAdapter>());
    service_.Start();
    service_.SetObject("const.browser.home.localpath", "/mnt/home/",
                       IToiInformationService::eVolatile);
  }
  TCorvantelaSyslogAdapter& Start() {
    callback_.reports.clear();
    adapter_ = std::make_unique<TCorvantelaSyslogAdapter>(&service_);
    adapter_->SetCallback(&callback_);
    adapter_->InitializeObjects();
    return *adapter_;
  }
  std::string Get(const std::string& name) const { return test::ValueOf(*adapter_, name); }
  // "" when the set is accepted, else "<code> <text>".
  std::string Set(const std::string& name, const std::string& value) {
    return test::Refusal([&] { adapter_->SetObject(name, value); });
  }
  std::string Box(const std::string& path) const { return test::ReadFile(root_.File(path)); }
  bool Exists(const std::string& path) const { return test::FileExists(root_.File(path)); }
  void RemoveLoggerFiles() {
    for (const char* file : {"etc/syslog.conf.url", "etc/syslog.conf.level",
                             "var/state/syslog.restart", "flash2/syslog.conf.xml"}) {
      ::remove(root_.File(file).c_str());
    }
  }
  test::TScopedProcessTracker scoped_;
  test::TRootDir root_{"etc", "flash2", "var", "var/state"};
  TSubscriptionList subscriptions_{
      nullptr, [](const std::string&, TSubscriptionList::TNotification, const TStringList&) {}};
  TInformationService service_{"", &subscriptions_};
  test::TRecordingCallback callback_;
  std::unique_ptr<TCorvantelaSyslogAdapter> adapter_;
};

TEST_F(TCorvantelaSyslogAdapterTest, FirstStartKeepsTheDefaultsAndLeavesTheLoggerAlone) {
  Start();
  EXPECT_EQ("3", Get(kLevel));
  EXPECT_EQ("", Get(kUrl));
  EXPECT_FALSE(Exists("etc/syslog.conf.url") || Exists("var/state/syslog.restart"));
  EXPECT_FALSE(adapter_->SupportsObject("cfg.app.syslog"));
  EXPECT_FALSE(adapter_->IsStorageType(IInformationAdapter::TStorageType(1)));
  // Without a URL no level can be set.
  EXPECT_EQ("201 Invalid syslog url", Set(kLevel, "5"));
  EXPECT_EQ("3", Get(kLevel));
}

TEST_F(TCorvantelaSyslogAdapterTest, UrlAndLevelValidation) {
  struct TCase {
    const char* name;
    std::string value;
    const char* refusal;           // "" when accepted
    const char* destination = "";  // the url file after an accepted set
    const char* restart = "";
  } const cases[] = {
      {kUrl, "file:///var/log/messages", "", "/var/log/messages", "-O"},
      {kUrl, "is://~logs/box.log", "", "/mnt/home/logs/box.log", "-O"},
      {kUrl, "udp://", "", "", "-R"},
      {kUrl, "tcp://10.0.0.1:514", "201 Invalid syslog url"},
      {kUrl, "", "201 Invalid syslog url"},
      {kUrl, "udp://10.0.0.1\n*.* /dev/mem", "201 Invalid syslog url"},
      {kUrl, "file:///tmp/a\rb", "201 Invalid syslog url"},
      {kUrl, std::string("udp://10.0.0.1\0x", 16), "201 Invalid syslog url"},
      {kLevel, "8", "", "10.0.0.9:514", "-R"},
      {kLevel, "1", "", "10.0.0.9:514", "-R"},
      {kLevel, "9", "201 Level must be in 0-8 range"},
      {kLevel, "0", "201 Level must be in 0-8 range"},
      {kLevel, "x", "201 Level must be in 0-8 range"},
  };
  for (const TCase& c : cases) {
    RemoveLoggerFiles();
    Start();
    ASSERT_EQ("", Set(kUrl, "udp://10.0.0.9:514"));
    RemoveLoggerFiles();
    EXPECT_EQ(c.refusal, Set(c.name, c.value)) << c.value;
    if (*c.refusal == '\0') {
      EXPECT_EQ(c.value, Get(c.name));
      EXPECT_EQ(c.destination, Box("etc/syslog.conf.url")) << c.value;
      EXPECT_EQ(c.restart, Box("var/state/syslog.restart")) << c.value;
    } else {
      EXPECT_EQ("udp://10.0.0.9:514", Get(kUrl)) << c.value;
      EXPECT_EQ("3", Get(kLevel)) << c.value;
      EXPECT_FALSE(Exists("etc/syslog.conf.url")) << c.value;
    }
  }
}

TEST_F(TCorvantelaSyslogAdapterTest, HomePathWithALineBreakIsRefused) {
  service_.SetObject("const.browser.home.localpath", "/mnt\n*.* /x",
                     IToiInformationService::eVolatile);
  Start();
  EXPECT_EQ("201 Invalid syslog url", Set(kUrl, "is://~log"));
}

// The settings file is escaped on write and read back at the next start, which applies it
// to the logger without rewriting it and without reporting.
TEST_F(TCorvantelaSyslogAdapterTest, MarkupInValuesSurvivesARestart) {
  Start();
  const std::string url = "file:///tmp/a<b>&c\"d'e.log";
  ASSERT_EQ("", Set(kUrl, url));
  ASSERT_EQ("", Set(kLevel, "7"));
  const std::string written = Box("flash2/syslog.conf.xml");
  RemoveLoggerFiles();
  test::WriteFile(root_.File("flash2/syslog.conf.xml"), written);
  Start();
  EXPECT_EQ(url, Get(kUrl));
  EXPECT_EQ("7", Get(kLevel));
  EXPECT_EQ("/tmp/a<b>&c\"d'e.log", Box("etc/syslog.conf.url"));
  EXPECT_EQ("7", Box("etc/syslog.conf.level"));
  EXPECT_EQ("-O", Box("var/state/syslog.restart"));
  EXPECT_EQ(written, Box("flash2/syslog.conf.xml"));
  EXPECT_TRUE(callback_.reports.empty());
  // An unchanged value writes and reports nothing; a changed one is reported.
  RemoveLoggerFiles();
  ASSERT_EQ("", Set(kUrl, url));
  EXPECT_FALSE(Exists("flash2/syslog.conf.xml") || Exists("var/state/syslog.restart"));
  ASSERT_EQ("", Set(kLevel, "5"));
  EXPECT_EQ(0u, Box("flash2/syslog.conf.xml").find("<syslogconf><level>5</level><url>file:///"));
  EXPECT_EQ((std::vector<std::string>{"set cfg.app.syslog.level"}), callback_.reports);
}

TEST_F(TCorvantelaSyslogAdapterTest, BadSettingsFilesKeepWhatWasReadAndLeaveTheLoggerAlone) {
  struct TCase {
    const char* content;
    const char* level;
    const char* url;
  } const cases[] = {
      {"<syslogconf><level>4</level><url>ftp://x</url></syslogconf>", "4", "ftp://x"},
      {"<any><url>udp://a</url><level>9</level></any>", "9", "udp://a"},
      {"<syslogconf><level>4</level><url>udp://a", "3", ""},
  };
  for (const TCase& c : cases) {
    test::WriteFile(root_.File("flash2/syslog.conf.xml"), c.content);
    scoped_.Tracker().messages.clear();
    Start();
    EXPECT_EQ(c.level, Get(kLevel)) << c.content;
    EXPECT_EQ(c.url, Get(kUrl)) << c.content;
    EXPECT_TRUE(scoped_.Tracker().Holds(TTracker::kTrace, "Failed to open file")) << c.content;
    EXPECT_FALSE(Exists("etc/syslog.conf.url") || Exists("var/state/syslog.restart"));
  }
}

TEST_F(TCorvantelaSyslogAdapterTest, AFileThatCannotBeWrittenIsTracedAndTheSetStillHolds) {
  Start();
  ::rmdir(root_.File("var/state").c_str());
  ASSERT_EQ("", Set(kUrl, "udp://10.0.0.1:514"));
  EXPECT_EQ("udp://10.0.0.1:514", Get(kUrl));
  EXPECT_TRUE(scoped_.Tracker().Holds(TTracker::kTrace, "Can't write to file"));
  EXPECT_EQ("10.0.0.1:514", Box("etc/syslog.conf.url"));
  EXPECT_EQ(1u, callback_.reports.size());
}

}  // namespace
