#include <gtest/gtest.h>

#include <memory>

#include "adapters/TFlashFsAdapter.h"
#include "base/TException.h"
#include "tests/adapters/AdapterTestSupport.h"
#include "translation/INameTranslator.h"

using namespace test;

namespace {

constexpr time_t kNow = 1800000000;

// Knows one token pair ("OperatorRed" -> "platform_red") for the object "cfg.colour".
class TFakeDictionary final : public IIalTokenValueDictionary {
 public:
  std::string Translate(const std::string& value) const override {
    return IsIalTokenValue(value) ? "platform_red" : value;
  }
  std::string Retranslate(const std::string& value) const override { return value; }
  bool ShouldTranslate(const std::string& name) const override { return name == "cfg.colour"; }
  bool IsIalTokenValue(const std::string& value) const override { return value == "OperatorRed"; }
  bool IsPlatformTokenValue(const std::string& value) const override {
    return value == "platform_red";
  }
};

// Keeps "cfg.old" under "cfg.new" now.
class TFakeNames final : public INameTranslator {
 public:
  bool HasAlias(const std::string& name) const override { return name == "cfg.old"; }
  std::string Translate(const std::string& name) const override {
    return HasAlias(name) ? "cfg.new" : name;
  }
};

std::string Setting(const std::string& name, const std::string& value) {
  return "<setting><name>" + name + "</name><value>" + value + "</value></setting>";
}

std::string Counters(time_t stamp, int count, int total = 0) {
  return Setting("info.ffs.periodtimestamp", std::to_string(stamp)) +
         Setting("info.ffs.periodwritecount", std::to_string(count)) +
         Setting("info.ffs.totalwritecount", std::to_string(total));
}

class TFlashFsAdapterTest : public ::testing::Test {
 protected:
  std::unique_ptr<TFlashFsAdapter> Start(uint32_t limit = 10,
                                         const INameTranslator* names = nullptr) {
    auto adapter = std::make_unique<TFlashFsAdapter>(settings_, backup_, 10, limit, names,
                                                     &dictionary_, &loop_, clock_);
    adapter->SetCallback(&callback_);
    adapter->InitializeObjects();
    return adapter;
  }
  void WriteSettings(const std::string& body) {
    WriteFile(settings_, "<settingslist>" + body + "</settingslist>");
  }
  // Declared first so that the adapters take the recording tracker at construction.
  TScopedProcessTracker scopedTracker_;
  TRecordingTracker& tracker_ = scopedTracker_.Tracker();
  TTempDir dir_;
  std::string settings_ = dir_.File("settings.xml");
  std::string backup_ = dir_.File("settings.bak");
  TManualClock clock_{1000, kNow};
  TFakeLoop loop_;
  TRecordingCallback callback_;
  TFakeDictionary dictionary_;
};

// A missing, empty or malformed file leaves only the three counters, at zero, and nothing to
// write or report; a corrupt backup is traced and the settings file loads.
TEST_F(TFlashFsAdapterTest, UnreadableFilesLeaveOnlyTheCountersAtZero) {
  const std::pair<const char*, bool> cases[] = {
      {nullptr, false},
      {"", false},  // zero bytes: counts as missing, nothing traced
      {"<settingslist><setting><name>a</name><value>1</value></setting><other/></settingslist>",
       true},
      {"<settingslist><setting><name>a</name></setting></settingslist>", true},
      {"<settings><setting><name>a</name><value>1</value></setting></settings>", true}};
  for (const auto& [content, traced] : cases) {
    tracker_.messages.clear();
    if (content) WriteFile(settings_, content);
    auto adapter = Start();
    EXPECT_EQ(ValueOf(*adapter, "a"), "<absent>");
    for (const char* counter : {"periodtimestamp", "periodwritecount", "totalwritecount"}) {
      EXPECT_EQ(ValueOf(*adapter, std::string("info.ffs.") + counter), "0");
    }
    EXPECT_EQ(tracker_.Holds(TTracker::kError, "TFlashFsAdapter: "), traced);
  }
  WriteSettings(Setting("cfg.a", "kept"));
  WriteFile(backup_, "<settingslist><setting><name>cut");
  tracker_.messages.clear();
  EXPECT_EQ(ValueOf(*Start(), "cfg.a"), "kept");
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "TFlashFsAdapter: "));
  EXPECT_TRUE(loop_.added.empty());
  EXPECT_TRUE(callback_.reports.empty());
}

// An operator token value and a stored name that is now an alias are translated on load, and
// the file is rewritten with what was loaded.
TEST_F(TFlashFsAdapterTest, TokenValuesAndAliasedNamesAreTranslatedOnLoadAndRewritten) {
  TFakeNames names;
  WriteSettings(Counters(kNow - 100, 1, 1) + Setting("cfg.old", "kept") +
                "<setting><name>cfg.colour</name><value>OperatorRed</value><extra/></setting>" +
                Setting("cfg.other", "OperatorRed"));
  auto adapter = Start(10, &names);
  EXPECT_EQ(ValueOf(*adapter, "cfg.new"), "kept");
  EXPECT_FALSE(adapter->HasObject("cfg.old"));
  EXPECT_EQ(ValueOf(*adapter, "cfg.colour"), "platform_red");
  EXPECT_EQ(ValueOf(*adapter, "cfg.other"), "OperatorRed");
  loop_.Fire(clock_);
  const std::string file = ReadFile(settings_);
  EXPECT_NE(file.find("<name>cfg.new</name>"), std::string::npos);
  EXPECT_NE(file.find("<value>platform_red</value>"), std::string::npos);
}

TEST_F(TFlashFsAdapterTest, EnvFamiliesAllowFifteenNamesInUseAndValuesUpTo4096Bytes) {
  WriteSettings(Setting("_env.local.3", "x"));
  auto adapter = Start();
  // _env.local.3 from the file is in use: 14 more fit.
  for (int i = 0; i < 14; ++i) {
    adapter->SetObject((i < 10 ? "_env.trusted." : "_env.restricted.") + std::to_string(i % 10),
                       "v");
  }
  EXPECT_EQ(Refusal([&] { adapter->SetObject("_env.local.0", "v"); }),
            "202 That many _env.xxx.[0-9] objects are not allowed!");
  EXPECT_EQ(ValueOf(*adapter, "_env.local.0"), "<absent>");
  EXPECT_NO_THROW(adapter->SetObject("_env.local.3", "again"));  // in use already
  adapter->UnsetObject("_env.trusted.0");
  EXPECT_NO_THROW(adapter->SetObject("_env.local.0", "v"));
  EXPECT_NO_THROW(adapter->SetObject("_env.local.3", std::string(4096, 'a')));
  EXPECT_THROW(adapter->SetObject("_env.local.3", std::string(4097, 'a')), TStorageLimitException);
  EXPECT_EQ(ValueOf(*adapter, "_env.local.3").size(), 4096u);
  EXPECT_NO_THROW(adapter->SetObject("cfg.not.env", std::string(5000, 'a')));
}

// The period starts anew when its timestamp is now, in the future or over a day old; an
// exhausted running period (or limit 0) defers the write to its end, and the write is
// counted in the period it waited for.
TEST_F(TFlashFsAdapterTest, PeriodTimestampAndLimitDecideWhetherTheWriteWaits) {
  struct TCase {
    time_t stamp;
    int count;
    uint32_t limit;
    unsigned int waitSeconds;
    const char* countAfter;
  } const cases[] = {{kNow, 0, 10, 10, "1"},
                     {kNow + 5, 0, 10, 10, "1"},
                     {kNow + 100000, 0, 10, 10, "1"},
                     {kNow - 86400, 0, 10, 10, "1"},
                     {kNow - 1000, 10, 10, 86400 + 10 - 1000, "11"},
                     {kNow - 1, 0, 0, 86400 + 10 - 1, "1"}};
  for (const TCase& c : cases) {
    clock_.SetWallSeconds(kNow);
    loop_.active.clear();
    WriteSettings(Counters(c.stamp, c.count, 50));
    auto adapter = Start(c.limit);
    adapter->SetObject("cfg.a", "1");
    EXPECT_EQ(loop_.PendingMs(), c.waitSeconds * 1000u) << c.stamp - kNow;
    loop_.Fire(clock_);
    EXPECT_EQ(ValueOf(*adapter, "info.ffs.periodwritecount"), c.countAfter) << c.stamp - kNow;
    EXPECT_EQ(ValueOf(*adapter, "info.ffs.totalwritecount"), "51");
    if (c.count == 0) continue;
    EXPECT_EQ(ValueOf(*adapter, "info.ffs.periodtimestamp"), std::to_string(c.stamp));
    adapter->SetObject("cfg.a", "2");  // the next change opens a new period
    EXPECT_EQ(loop_.PendingMs(), 10000u);
    loop_.Fire(clock_);
    EXPECT_EQ(ValueOf(*adapter, "info.ffs.periodwritecount"), "1");
    EXPECT_EQ(ValueOf(*adapter, "info.ffs.periodtimestamp"), std::to_string(clock_.WallSeconds()));
  }
}

// Changes within the delay give one write, timed from the first, in the exact layout, with the
// counters of the running period carried on and reported like any other setting. Setting the
// value held and unsetting an absent name are no changes.
TEST_F(TFlashFsAdapterTest, SetsWithinTheDelayGiveOneWriteTimedFromTheFirst) {
  WriteSettings(Counters(kNow - 100, 1, 7) + Setting("cfg.c", "1"));
  auto adapter = Start();
  adapter->SetObject("cfg.c", "1");
  adapter->UnsetObject("cfg.absent");
  EXPECT_TRUE(loop_.added.empty());
  adapter->SetObject("cfg.b", "");
  clock_.Advance(4000);
  adapter->SetObject("cfg.gone", "1");
  clock_.Advance(4000);
  adapter->UnsetObject("cfg.gone");
  adapter->SetObject("cfg.a", "x y");
  ASSERT_EQ(loop_.added, std::vector<unsigned int>{10000u});
  loop_.Fire(clock_);
  EXPECT_EQ(adapter->TEST_GetPendingTimeout(), -1);
  EXPECT_TRUE(loop_.active.empty());
  std::string expected = "<?xml version=\"1.0\"?>\n<settingslist>\n";
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"cfg.a", "x y"},
                                    {"cfg.b", ""},
                                    {"cfg.c", "1"},
                                    {"info.ffs.periodtimestamp", std::to_string(kNow - 100)},
                                    {"info.ffs.periodwritecount", "2"},
                                    {"info.ffs.totalwritecount", "8"}}) {
    expected += "<setting>\n<name>" + name + "</name>\n<value>" + value + "</value>\n</setting>\n";
  }
  EXPECT_EQ(ReadFile(settings_), expected + "</settingslist>\n");
  EXPECT_EQ(
      callback_.reports,
      (std::vector<std::string>{"set cfg.b", "set cfg.gone", "unset cfg.gone", "set cfg.a",
                                "set info.ffs.periodwritecount", "set info.ffs.totalwritecount"}));
}

// A write pending at shutdown goes to the backup; the next start prefers that to the settings
// file, and its first write removes it.
TEST_F(TFlashFsAdapterTest, PendingWriteAtShutdownGoesToTheBackupWhichTheNextStartPrefers) {
  WriteSettings(Counters(kNow - 100, 1, 1) + Setting("cfg.old", "1"));
  const std::string before = ReadFile(settings_);
  {
    auto adapter = Start();
    adapter->SetObject("cfg.a", "pending");
    adapter->UnsetObject("cfg.old");
  }
  EXPECT_TRUE(loop_.active.empty());
  EXPECT_EQ(ReadFile(settings_), before);
  auto adapter = Start();
  EXPECT_EQ(ValueOf(*adapter, "cfg.a"), "pending");
  EXPECT_EQ(ValueOf(*adapter, "cfg.old"), "<absent>");
  EXPECT_EQ(ValueOf(*adapter, "info.ffs.totalwritecount"), "1");  // not advanced by the backup
  EXPECT_EQ(loop_.PendingMs(), 10000u);
  loop_.Fire(clock_);
  EXPECT_FALSE(FileExists(backup_));
  EXPECT_NE(ReadFile(settings_).find("<name>cfg.a</name>\n<value>pending</value>"),
            std::string::npos);
}

TEST_F(TFlashFsAdapterTest, FailedWriteKeepsThePreviousFileAndTheBackup) {
  WriteSettings(Counters(kNow - 100, 1, 1));
  WriteFile(backup_, "<settingslist>" + Counters(kNow - 100, 1, 1) +
                         Setting("cfg.a", "from backup") + "</settingslist>");
  const std::string before = ReadFile(settings_);
  // The temporary file cannot be created: a directory holds its name.
  ASSERT_EQ(::mkdir(dir_.File(".settings.xml.tmp").c_str(), 0755), 0);
  {
    auto adapter = Start();
    loop_.Fire(clock_);
    // Named is the file that stays stale, not the temporary one.
    EXPECT_TRUE(tracker_.Holds(TTracker::kError, "TFlashFsAdapter: Cannot open file \"" +
                                                     settings_ + "\" for writing: File exists"));
    EXPECT_EQ(ReadFile(settings_), before);
    EXPECT_TRUE(FileExists(backup_));
    EXPECT_EQ(adapter->TEST_GetPendingTimeout(), -1);
  }
  // Nothing was pending at shutdown, but the unwritten state still reaches the backup.
  const std::string saved = ReadFile(backup_);
  EXPECT_NE(saved.find("from backup"), std::string::npos);
  EXPECT_NE(saved.find("<name>info.ffs.totalwritecount</name>\n<value>2</value>"),
            std::string::npos);
}

}  // namespace
