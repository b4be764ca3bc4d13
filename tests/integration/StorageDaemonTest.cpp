// The storage promises checked on the real daemon: a settings file that survives SIGKILL at any
// moment, a full disk answered with 207, the storage types routed to their directories, and
// client files that would block or break the daemon answered with 207.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "tests/integration/DaemonFixture.h"
#include "toi/TInformationServiceCaller.h"

namespace integration {
namespace {

using TStorageType = IToiInformationService::TStorageType;
constexpr auto kPermanent = IToiInformationService::ePermanent;
constexpr auto kVolatile = IToiInformationService::eVolatile;

class StorageDaemonTest : public ::testing::Test {
 protected:
  // Starts the daemon with the settings write delay and daily limit given; true when it serves.
  bool Start(const std::string& delay, const std::string& limit, rlim_t fileSizeLimit = 0) {
    caller_.reset();
    if (!daemon_.StartStandalone({"-f", settings_, "-g", backup_, "-y", delay, "-w", limit},
                                 fileSizeLimit)) {
      return false;
    }
    caller_ = std::make_unique<TInformationServiceCaller>(&client_, daemon_.Address());
    return true;
  }
  // The value of `name`, or "<code N>" when the daemon refuses it.
  std::string Get(const std::string& name) {
    std::string value;
    try {
      caller_->GetObject(name, value);
    } catch (const TDispatchableException& refused) {
      return "<code " + std::to_string(refused.GetCode()) + ">";
    }
    return value;
  }
  // The code a set is refused with; 0 when it is accepted.
  int SetCode(const std::string& name, const std::string& value, TStorageType type) {
    try {
      caller_->SetObject(name, value, type);
      return 0;
    } catch (const TDispatchableException& refused) {
      return refused.GetCode();
    }
  }
  std::string Box(const std::string& path) const { return root_.Path() + path; }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::string settings_ = root_.File("settings.xml");
  std::string backup_ = root_.File("settings.bak");
  TIpcClient client_;
  std::unique_ptr<TInformationServiceCaller> caller_;
};

// The daemon writes the settings file (about 150 KB) after every set and is killed at varied
// moments; every time the file must load as a whole, with every setting it held before.
TEST_F(StorageDaemonTest, SigkillAtAnyMomentLeavesACompleteSettingsFile) {
  constexpr int kBase = 5000;
  std::string seed =
      "<settingslist><setting><name>info.ffs.totalwritecount</name><value>0</value></setting>";
  for (int i = 0; i < kBase; ++i) {
    seed += "<setting><name>cfg.base." + std::to_string(i) + "</name><value>" +
            std::string(100, static_cast<char>('a' + i % 26)) + "</value></setting>";
  }
  WriteFile(settings_, seed + "</settingslist>");

  // Each start loads what the previous round's kill left; the daemon would drop (and trace) a
  // broken file and lose every setting.
  for (int round = 0; round <= 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(Start("0", "1000000")) << daemon_.Log();
    for (int i = 0; i < kBase; i += 1249) {
      ASSERT_EQ(Get("cfg.base." + std::to_string(i)), std::string(100, 'a' + i % 26));
    }
    EXPECT_NE(Get("info.ffs.totalwritecount"), "<code 201>");
    EXPECT_EQ(daemon_.Log().find("TFlashFsAdapter: "), std::string::npos) << daemon_.Log();
    for (const char* name : {"cfg.crash.seq", "store.crash"}) {
      const std::string value = Get(name);
      EXPECT_TRUE(value == "<code 201>" || std::atoi(value.c_str()) >= 1) << name << value;
    }
    EXPECT_FALSE(FileExists(backup_));  // SIGKILL gives no shutdown
    if (round == 50) break;

    // Sets two objects over and over until the daemon is gone (bounded by the call timeout).
    std::thread setter([address = daemon_.Address()] {
      TIpcClient client;
      TInformationServiceCaller caller(&client, address);
      try {
        for (int i = 1; i <= 100000; ++i) {
          caller.SetObject("cfg.crash.seq", std::to_string(i), kPermanent);
          caller.SetObject("store.crash", std::to_string(i), kPermanent);
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

// The file-size limit stands in for a full disk; the daemon must not die of SIGXFSZ.
TEST_F(StorageDaemonTest, FullDiskAnswers207AndKeepsThePreviousFiles) {
  ASSERT_TRUE(Start("0", "1000000", 64 * 1024)) << daemon_.Log();
  caller_->SetObject("store.doc", "before", kPermanent);
  caller_->SetObject("cfg.small", "before", kPermanent);
  ASSERT_TRUE(
      WaitUntil([&] { return ReadFile(settings_).find("cfg.small") != std::string::npos; }));
  const std::string settingsBefore = ReadFile(settings_);

  EXPECT_EQ(207, SetCode("store.doc", std::string(100 * 1024, 'x'), kPermanent));
  EXPECT_EQ(Get("store.doc"), "before");
  EXPECT_EQ(ReadFile(Box("/flash2/information/store.doc")), "before");
  EXPECT_FALSE(FileExists(Box("/flash2/information/.store.doc.tmp")));

  // The settings write that cannot fit fails in the daemon's own time: it is logged, and the
  // previous settings file stays.
  caller_->SetObject("cfg.big", std::string(100 * 1024, 'y'), kPermanent);
  // The trace names the settings file itself, not the temporary file the write went to.
  EXPECT_TRUE(daemon_.Process().WaitForOutput("TFlashFsAdapter: Cannot open file \"" + settings_ +
                                              "\" for writing: File too large"))
      << daemon_.Log();
  EXPECT_EQ(ReadFile(settings_), settingsBefore);
  EXPECT_EQ(Get("cfg.small"), "before");
  EXPECT_TRUE(daemon_.Process().Poll());
}

// The assembly gives each storage type and prefix its directory; a client's FIFO without a
// reader would hold the daemon's one thread in open(), and a reader gone mid-write would end
// it with SIGPIPE.
TEST_F(StorageDaemonTest, StorageTypesPickTheDirectoryAndClientFifosCannotStopTheDaemon) {
  ASSERT_TRUE(Start("10", "10")) << daemon_.Log();
  caller_->SetObject("tmp.t", "volatile file", kVolatile);
  caller_->SetObject("store.p", "permanent file", kPermanent);
  caller_->SetObject("store.v", "kept in memory", kVolatile);
  EXPECT_EQ(ReadFile(Box("/tmp2/information/tmp.t")), "volatile file");
  EXPECT_EQ(ReadFile(Box("/flash2/information/store.p")), "permanent file");
  EXPECT_FALSE(FileExists(Box("/flash2/information/store.v")));
  EXPECT_FALSE(FileExists(Box("/tmp2/information/store.v")));
  EXPECT_EQ(Get("store.v"), "kept in memory");

  const std::string fifo = root_.File("fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  for (const char* name : {"store.p", "tmp.t", "store.v"}) {
    const TResult result = daemon_.Infoctl({"get-to-file", name, fifo});
    EXPECT_EQ(1, result.status) << name;
    EXPECT_NE(std::string::npos, result.err.find("error 207")) << name;
  }
  daemon_.Process().Signal(SIGPIPE);
  EXPECT_EQ(Get("tmp.t"), "volatile file");
  EXPECT_TRUE(daemon_.Process().Poll());
}

}  // namespace
}  // namespace integration
