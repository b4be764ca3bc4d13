// The storage promises checked on the real daemon: a settings file that survives SIGKILL at any
// moment, a full disk answered with 207, and the storage types routed to their directories.
#include <gtest/gtest.h>

#include "ipc/TIpcClient.h"
#include "tests/integration/DaemonFixture.h"
#include "toi/TInformationServiceCaller.h"

namespace integration {
namespace {

class StorageDaemonTest : public ::testing::Test {
 protected:
  // Starts the daemon with a settings write delay of 0; true when it serves.
  bool Start(const TArgs& wrapper = {}) {
    return daemon_.StartStandalone({"-f", settings_, "-g", backup_, "-y", "0", "-w", "1000000"},
                                   wrapper);
  }
  std::string Box(const std::string& path) const { return root_.Path() + path; }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::string settings_ = root_.File("settings.xml");
  std::string backup_ = root_.File("settings.bak");
};

// The daemon writes the settings file (about 150 KB) after every set and is killed at varied
// moments; every time the file must load as a whole, with every setting it held before (the
// daemon would drop, and trace, a broken file and lose every setting).
TEST_F(StorageDaemonTest, SigkillAtAnyMomentLeavesACompleteSettingsFile) {
  constexpr int kBase = 5000;
  std::string seed =
      "<settingslist><setting><name>info.ffs.totalwritecount</name><value>0</value></setting>";
  for (int i = 0; i < kBase; ++i) {
    seed += "<setting><name>cfg.base." + std::to_string(i) + "</name><value>" +
            std::string(100, static_cast<char>('a' + i % 26)) + "</value></setting>";
  }
  WriteFile(settings_, seed + "</settingslist>");
  for (int round = 0; round <= 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(Start()) << daemon_.Log();
    const TResult base = daemon_.Infoctl({"get", "cfg.base.0", "cfg.base.2498", "cfg.base.4996",
                                          "info.ffs.totalwritecount"});
    ASSERT_EQ(0, base.status) << base.err;
    ASSERT_EQ(0u, base.out.find(std::string(100, 'a') + "\n" + std::string(100, 'c') + "\n" +
                                std::string(100, 'e') + "\n"));
    EXPECT_EQ(daemon_.Log().find("TFlashFsAdapter: "), std::string::npos) << daemon_.Log();
    for (const char* name : {"cfg.crash.seq", "store.crash"}) {
      const std::string value = daemon_.Get(name);
      EXPECT_TRUE(value == "<none>" || std::atoi(value.c_str()) >= 1) << name << value;
    }
    EXPECT_FALSE(FileExists(backup_));  // SIGKILL gives no shutdown
    if (round == 50) break;

    // Sets two objects over and over until the daemon is gone (bounded by the call timeout).
    std::thread setter([address = daemon_.Address()] {
      TIpcClient client;
      TInformationServiceCaller caller(&client, address);
      try {
        for (int i = 1; i <= 100000; ++i) {
          caller.SetObject("cfg.crash.seq", std::to_string(i), IToiInformationService::ePermanent);
          caller.SetObject("store.crash", std::to_string(i), IToiInformationService::ePermanent);
        }
      } catch (const std::exception&) {
        // The daemon was killed.
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + (round * 7) % 43));
    daemon_.Process().Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, daemon_.Process().Wait());
    setter.join();
  }
}

// A file-size limit (40 or 80 KB, by the shell's block size) stands in for a full disk; the daemon must not die of SIGXFSZ, nor of
// SIGPIPE (a client's reader gone mid-write). Each storage type and prefix has its directory.
TEST_F(StorageDaemonTest, FullDiskAnswers207AndKeepsThePreviousFiles) {
  ASSERT_TRUE(Start({"/bin/sh", "-c", "ulimit -f 80 && exec \"$0\" \"$@\""})) << daemon_.Log();
  ASSERT_EQ(0, daemon_.Infoctl({"set", "store.doc", "before", "cfg.small", "before"}).status);
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "tmp.t", "volatile", "store.v", "memory"}).status);
  EXPECT_EQ(ReadFile(Box("/tmp2/information/tmp.t")), "volatile");
  EXPECT_FALSE(FileExists(Box("/flash2/information/store.v")));
  EXPECT_FALSE(FileExists(Box("/tmp2/information/store.v")));
  EXPECT_EQ(daemon_.Get("store.v"), "memory");
  ASSERT_TRUE(
      WaitUntil([&] { return ReadFile(settings_).find("cfg.small") != std::string::npos; }));
  const std::string settingsBefore = ReadFile(settings_);

  const TResult full = daemon_.Infoctl({"set", "store.doc", std::string(100 * 1024, 'x')});
  EXPECT_EQ(1, full.status);
  EXPECT_NE(std::string::npos, full.err.find("error 207")) << full.err;
  EXPECT_EQ(daemon_.Get("store.doc"), "before");
  EXPECT_EQ(ReadFile(Box("/flash2/information/store.doc")), "before");
  EXPECT_FALSE(FileExists(Box("/flash2/information/.store.doc.tmp")));

  // The settings write that cannot fit fails in the daemon's own time: it is logged, naming
  // the settings file rather than the temporary one, and the previous settings file stays.
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.big", std::string(100 * 1024, 'y')}).status);
  EXPECT_TRUE(daemon_.Process().WaitForOutput("TFlashFsAdapter: Cannot open file \"" + settings_ +
                                              "\" for writing: File too large"))
      << daemon_.Log();
  EXPECT_EQ(ReadFile(settings_), settingsBefore);
  EXPECT_EQ(daemon_.Get("cfg.small"), "before");
  daemon_.Process().Signal(SIGPIPE);
  EXPECT_EQ(daemon_.Get("tmp.t"), "volatile");
  EXPECT_TRUE(daemon_.Process().Poll());
}

}  // namespace
}  // namespace integration
