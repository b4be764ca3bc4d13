// The storage promises checked on the real daemon: a settings file that survives SIGKILL at any
// moment, a full disk answered with 207, object names that would leave their directory
// refused, and the storage types routed to the right directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TFileMapper.h"
#include "platform/TGeneralXmlParser.h"
#include "platform/TInformationServiceCaller.h"
#include "platform/TIpcClient.h"
#include "service/TException.h"

namespace {

using TStorageType = IToiInformationService::TStorageType;
constexpr TStorageType kPermanent = IToiInformationService::ePermanent;
constexpr TStorageType kVolatile = IToiInformationService::eVolatile;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

void SleepMs(long milliseconds) {
  const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000};
  ::nanosleep(&pause, nullptr);
}

// Reads a settings file the way the daemon does; false when it would be dropped.
bool ParseSettings(const std::string& path, std::map<std::string, std::string>& settings) {
  settings.clear();
  TFileMapper mapper;
  if (!mapper.TryOpen(path.c_str())) return false;
  try {
    TGeneralXmlParser parser;
    parser.Parse(mapper.GetData(), static_cast<int>(mapper.GetLength()));
    const TXmlElement& root = parser.GetRootElement();
    if (root.GetName() != "settingslist") return false;
    for (const TXmlElement& setting : root.GetChildren()) {
      std::string name;
      std::string value;
      if (setting.GetName() != "setting" || !setting.GetStringValue("name", name) ||
          !setting.GetStringValue("value", value)) {
        return false;
      }
      settings[name] = value;
    }
  } catch (const TException&) {
    return false;
  }
  return true;
}

// One daemon process in a box tree of its own (INFOSERVICE_ROOT), standalone.
class TDaemon final {
 public:
  TDaemon(const std::string& root, std::vector<std::string> options, rlim_t fileSizeLimit = 0)
      : root_(root) {
    const std::string addressFile = root + "/address";
    ::unlink(addressFile.c_str());
    std::vector<std::string> args = {INFOSERVICE_BINARY_DIR "/infoservice", "-s", "-i",
                                     addressFile};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = ::fork();
    if (pid_ == 0) Exec(args, fileSizeLimit);
    for (int attempt = 0; attempt < 1000 && address_.empty(); ++attempt) {
      const std::string text = Read(addressFile);
      if (!text.empty() && TCIpcClient_ValidateAddress(text))
        address_ = text;
      else
        SleepMs(10);
    }
  }
  ~TDaemon() { Stop(SIGKILL); }
  TDaemon(const TDaemon&) = delete;
  TDaemon& operator=(const TDaemon&) = delete;

  const std::string& Address() const { return address_; }
  bool IsRunning() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }

  // Sends the signal and reaps the process (SIGKILL after 10 s if it does not end).
  void Stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    int status = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      SleepMs(10);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  [[noreturn]] void Exec(const std::vector<std::string>& args, rlim_t fileSizeLimit) {
    ::setenv("INFOSERVICE_ROOT", root_.c_str(), 1);
    const int log = ::open((root_ + "/daemon.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ::dup2(log, 1);
    ::dup2(log, 2);
    if (fileSizeLimit) {
      // The daemon itself ignores SIGXFSZ, so a write over the limit fails with EFBIG as on
      // a full disk; the signal is left at its default here to prove that.
      ::signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }

  std::string root_;
  pid_t pid_ = -1;
  std::string address_;
};

// Sets two objects over and over from a child process until the daemon is gone (at most
// 100,000 rounds); returns the child's pid.
pid_t StartSetter(const std::string& address) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  TIpcClient client;
  TCIpcClient_Init(&client);
  TInformationServiceCaller caller(&client, address);
  try {
    for (int i = 1; i <= 100000; ++i) {
      caller.SetObject("cfg.crash.seq", std::to_string(i), kPermanent);
      caller.SetObject("store.crash", std::to_string(i), kPermanent);
    }
  } catch (const TException&) {
    // The daemon was killed.
  }
  ::_exit(0);
}

}  // namespace

class StorageDaemonTest : public ::testing::Test {
 protected:
  StorageDaemonTest() {
    char pattern[] = "/tmp/storage-daemon-XXXXXX";
    root_ = ::mkdtemp(pattern);
    ::mkdir((root_ + "/etc").c_str(), 0755);
    // The box's mount points; the daemon makes only the information directories below them.
    for (const char* directory : {"/flash", "/flash2", "/tmp2"}) {
      ::mkdir((root_ + directory).c_str(), 0755);
    }
    settings_ = root_ + "/flash/settings.xml";
    backup_ = root_ + "/flash/settings.bak";
    Write(root_ + "/etc/ial_token_value_dictionary.xml", "<Objects/>");
    TCIpcClient_Init(&client_);
  }
  ~StorageDaemonTest() override {
    TCIpcClient_CleanUp(&client_);
    std::system(("rm -rf '" + root_ + "'").c_str());
  }

  std::vector<std::string> SettingsOptions(const std::string& delay, const std::string& limit) {
    return {"-f", settings_, "-g", backup_, "-y", delay, "-w", limit};
  }
  std::string DaemonLog() const { return Read(root_ + "/daemon.log"); }

  std::string root_;
  std::string settings_;
  std::string backup_;
  TIpcClient client_;
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
  Write(settings_, seed + "</settingslist>");

  constexpr int kKills = 50;
  for (int round = 0; round < kKills; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TDaemon daemon(root_, SettingsOptions("0", "1000000"));
    ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
    const pid_t setter = StartSetter(daemon.Address());
    ASSERT_GT(setter, 0);
    SleepMs(5 + (round * 7) % 43);
    daemon.Stop(SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(setter, &status, 0), setter);

    std::map<std::string, std::string> settings;
    ASSERT_TRUE(ParseSettings(settings_, settings)) << "settings file dropped";
    for (int i = 0; i < kBase; i += 37) {
      ASSERT_EQ(settings["cfg.base." + std::to_string(i)].size(), 100u);
    }
    ASSERT_TRUE(settings.count("info.ffs.totalwritecount"));
    if (settings.count("cfg.crash.seq")) {
      EXPECT_GE(std::atoi(settings["cfg.crash.seq"].c_str()), 1);
    }
    const std::string object = Read(root_ + "/flash2/information/store.crash");
    if (Exists(root_ + "/flash2/information/store.crash")) {
      EXPECT_GE(std::atoi(object.c_str()), 1);
    }
    EXPECT_FALSE(Exists(backup_));  // SIGKILL gives no shutdown
  }

  TDaemon daemon(root_, SettingsOptions("0", "1000000"));
  ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
  TInformationServiceCaller caller(&client_, daemon.Address());
  std::string value;
  caller.GetObject("cfg.base.4999", value);
  EXPECT_EQ(value, std::string(100, static_cast<char>('a' + 4999 % 26)));
}

TEST_F(StorageDaemonTest, FullDiskAnswers207AndKeepsThePreviousFiles) {
  TDaemon daemon(root_, SettingsOptions("0", "1000000"), 64 * 1024);
  ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
  TInformationServiceCaller caller(&client_, daemon.Address());
  caller.SetObject("store.doc", "before", kPermanent);
  caller.SetObject("cfg.small", "before", kPermanent);
  for (int attempt = 0; attempt < 500 && Read(settings_).find("before") == std::string::npos;
       ++attempt) {
    SleepMs(10);
  }
  const std::string settingsBefore = Read(settings_);
  ASSERT_NE(settingsBefore.find("cfg.small"), std::string::npos);

  try {
    caller.SetObject("store.doc", std::string(100 * 1024, 'x'), kPermanent);
    FAIL() << "a value larger than the space left was accepted";
  } catch (const TDispatchableException& failure) {
    EXPECT_EQ(failure.GetCode(), 207) << failure.GetText();
  }
  std::string value;
  caller.GetObject("store.doc", value);
  EXPECT_EQ(value, "before");
  EXPECT_EQ(Read(root_ + "/flash2/information/store.doc"), "before");

  // The settings write that cannot fit fails in the daemon's own time: it is logged, and the
  // previous settings file stays.
  caller.SetObject("cfg.big", std::string(100 * 1024, 'y'), kPermanent);
  for (int attempt = 0;
       attempt < 500 && DaemonLog().find("TFlashFsAdapter: Cannot write") == std::string::npos;
       ++attempt) {
    SleepMs(10);
  }
  EXPECT_NE(DaemonLog().find("TFlashFsAdapter: Cannot write"), std::string::npos);
  EXPECT_EQ(Read(settings_), settingsBefore);
  caller.GetObject("cfg.small", value);
  EXPECT_EQ(value, "before");
  EXPECT_TRUE(daemon.IsRunning());
}

TEST_F(StorageDaemonTest, UnsafeNamesAreRefusedAndStorageTypesPickTheDirectory) {
  TDaemon daemon(root_, SettingsOptions("10", "10"));
  ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
  TInformationServiceCaller caller(&client_, daemon.Address());
  for (const std::string& name :
       std::vector<std::string>{"store./../../escaped", "store.a/b", "tmp./../escaped",
                                "store." + std::string(300, 'n')}) {
    SCOPED_TRACE(name);
    try {
      caller.SetObject(name, "x", name[0] == 's' ? kPermanent : kVolatile);
      FAIL() << "accepted";
    } catch (const TDispatchableException& refused) {
      EXPECT_EQ(refused.GetCode(), 201) << refused.GetText();
    }
  }
  EXPECT_FALSE(Exists(root_ + "/escaped"));
  EXPECT_FALSE(Exists(root_ + "/flash2/escaped"));

  caller.SetObject("tmp.t", "volatile file", kVolatile);
  caller.SetObject("_tmp.u", "", kVolatile);
  caller.SetObject("store.p", "permanent file", kPermanent);
  caller.SetObject("store.v", "kept in memory", kVolatile);
  EXPECT_EQ(Read(root_ + "/tmp2/information/tmp.t"), "volatile file");
  EXPECT_TRUE(Exists(root_ + "/tmp2/information/_tmp.u"));
  EXPECT_EQ(Read(root_ + "/flash2/information/store.p"), "permanent file");
  EXPECT_FALSE(Exists(root_ + "/flash2/information/store.v"));
  EXPECT_FALSE(Exists(root_ + "/tmp2/information/store.v"));
  std::string value;
  caller.GetObject("store.v", value);
  EXPECT_EQ(value, "kept in memory");
  EXPECT_TRUE(daemon.IsRunning());
}

// A clean stop with a write pending leaves it in the backup file, which the next start loads.
TEST_F(StorageDaemonTest, HangUpWithAPendingWriteSavesTheBackup) {
  {
    TDaemon daemon(root_, SettingsOptions("3600", "10"));
    ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
    TInformationServiceCaller caller(&client_, daemon.Address());
    caller.SetObject("cfg.pending", "saved at shutdown", kPermanent);
    daemon.Stop(SIGHUP);
  }
  EXPECT_FALSE(Exists(settings_));
  std::map<std::string, std::string> backup;
  ASSERT_TRUE(ParseSettings(backup_, backup)) << DaemonLog();
  EXPECT_EQ(backup["cfg.pending"], "saved at shutdown");

  TDaemon daemon(root_, SettingsOptions("0", "10"));
  ASSERT_FALSE(daemon.Address().empty()) << DaemonLog();
  TInformationServiceCaller caller(&client_, daemon.Address());
  std::string value;
  caller.GetObject("cfg.pending", value);
  EXPECT_EQ(value, "saved at shutdown");
}
