// The daemon's start-up parts: command line, service and address file, platform registration.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <tuple>

#include "daemon/ServeService.h"
#include "daemon/TCommandLine.h"
#include "daemon/TPlatformRegistration.h"
#include "ipc/IIpcServer.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "service/TInformationAdapter.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"

namespace {

// Volatile storage for every name that tells when it is initialised and counts fetches.
class TProbeAdapter final : public TInformationAdapter {
 public:
  std::function<void()> onInitialize;
  int fetches = 0;
  bool initialisedWithCallback = false;

  void InitializeObjects() override {
    initialisedWithCallback = callback_ != nullptr;
    if (onInitialize) onInitialize();
  }
  bool IsStorageType(TStorageType type) const override {
    return type == IToiInformationService::eVolatile;
  }
  void SetObject(const std::string& name, const std::string& value) override {
    objects_[name] = value;
    callback_->OnSetObject(this, name);
  }
  void FetchObjects() override { ++fetches; }
};

// A server without a socket: its objects are numbers on a path that does not exist.
class TInProcessServer final : public IIpcServer {
 public:
  std::vector<std::string> objects;
  std::string CreateObject() override {
    objects.push_back(TIpcAddress::Format("/in-process.sock", objects.size() + 1));
    return objects.back();
  }
  uint32_t AddDispatcher(const std::string&, TIpcDispatcher*) override {
    return static_cast<uint32_t>(objects.size());
  }
  void RemoveDispatcher(uint32_t, TIpcDispatcher*) override {}
};

class TDaemonTest : public ::testing::Test {
 protected:
  // A service holding one probe adapter, and its registration; notifications are recorded.
  void Create(bool standalone) {
    service_ = std::make_unique<TInformationService>("", &subscriptions_);
    service_->SetAddressCheck(!standalone);
    platform_ = std::make_unique<TPlatformRegistration>(&client_, subscriptions_, *service_);
    probe_ = new TProbeAdapter();
    service_->AddAdapter(std::unique_ptr<IInformationAdapter>(probe_));
  }

  test::TScopedProcessTracker tracker_;
  test::TTempDir root_;
  std::vector<std::string> notifications_;
  TIpcClient client_;
  TInProcessServer server_;
  TSubscriptionList subscriptions_{
      nullptr, [this](const std::string& address, TSubscriptionList::TNotification,
                      const TStringList& names) {
        notifications_.push_back(address + " " + names.front());
      }};
  std::unique_ptr<TInformationService> service_;  // destroyed after the registration
  std::unique_ptr<TPlatformRegistration> platform_;
  TProbeAdapter* probe_ = nullptr;  // owned by the service
};

// Parses the words; the usage text is printed exactly when the daemon is not to run.
TCommandLine::TResult Parse(std::vector<std::string> words, TCommandLine& options) {
  words.insert(words.begin(), "infoservice");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  FILE* stream = tmpfile();
  const auto result = options.Parse(static_cast<int>(words.size()), argv.data(), stream);
  EXPECT_EQ(result != TCommandLine::TResult::eRun, ftell(stream) > 0) << words.back();
  fclose(stream);
  return result;
}

std::string Describe(const TCommandLine& o) {
  std::string text = std::to_string(o.standalone + 2 * o.hostEnvironment + 4 * o.opchMode);
  for (const std::string& field :
       {o.ipcAddressFile, o.settingsFile, o.backupFile, o.metaChannelAddress, o.metaChannelFile,
        o.defaultsFile, o.aliasFile, std::to_string(o.writeDelay), std::to_string(o.writeLimit),
        std::to_string(o.packetBufferSize)})
    text += " " + field;
  return text;
}

// Later occurrences win, a value that is not a number is 0, a number its leading digits;
// help wins over everything after it; an unknown option or a missing argument fails.
TEST(TCommandLineTest, DefaultsEveryOptionLaterOccurrencesNonNumbersHelpAndBadOptions) {
  using R = TCommandLine::TResult;
  const std::tuple<std::vector<std::string>, R, const char*> cases[] = {
      {{}, R::eRun, "0        10 10 1600"},
      {{"-s", "-t", "-i", "addr", "-f", "set.xml", "-g", "bak.xml", "-y", "3", "-w", "5", "-m",
        "239.1.1.1:5000", "-e", "meta", "-n", "12x", "-d", "def.xml", "stray", "-a", "alias.xml",
        "-o", "-y", "abc", "-i", "addr2"},
       R::eRun, "7 addr2 set.xml bak.xml 239.1.1.1:5000 meta def.xml alias.xml 0 5 12"},
      {{"-s", "-h", "-x"}, R::eHelp, ""},
      {{"-x"}, R::eBadOption, ""},
      {{"-s", "-i"}, R::eBadOption, ""},
      {{"-d"}, R::eBadOption, ""}};
  for (const auto& [words, result, description] : cases) {
    TCommandLine options;
    EXPECT_EQ(result, Parse(words, options)) << description;
    EXPECT_EQ(description, result == R::eRun ? Describe(options) : "");
  }
}

// Whoever waits for the address file may call at once: it holds the address before any
// adapter starts, and they are initialised with their callback.
TEST_F(TDaemonTest, StandaloneWritesTheAddressBeforeTheAdaptersStart) {
  const std::string addressFile = root_.File("address");
  test::WriteFile(addressFile, "old content that is longer than an address");
  Create(true);
  std::string seenByAdapter;
  probe_->onInitialize = [&] { seenByAdapter = test::ReadFile(addressFile); };
  ServeService(*service_, *platform_, server_, true, addressFile);
  EXPECT_TRUE(probe_->initialisedWithCallback);
  ASSERT_EQ(3u, server_.objects.size());
  EXPECT_EQ(server_.objects[0], seenByAdapter);
  EXPECT_EQ(seenByAdapter, test::ReadFile(addressFile));
}

// An ended instance's subscriptions go, the adapters asked again what to fetch; not so else.
TEST_F(TDaemonTest, EndedApplicationLosesItsSubscriptions) {
  Create(true);
  probe_->SetCallback(service_.get());
  service_->SubscribeObject2("cfg.*", 5, "s5", false);
  service_->SubscribeObject2("cfg.*", 6, "s6", false);
  const int fetches = probe_->fetches;
  platform_->OnStateChanged({{5, TPlatformRegistration::kStateEnded}, {6, 3}, {6, 4}});
  EXPECT_EQ(fetches + 1, probe_->fetches);
  service_->SetObject("cfg.x", "1", IToiInformationService::eVolatile);
  EXPECT_EQ(std::vector<std::string>{"s6 cfg.x"}, notifications_);
}

using TDaemonDeathTest = TDaemonTest;

// Without its environment the daemon must not run half-registered, nor start its adapters.
TEST_F(TDaemonDeathTest, PlatformModeWithoutItsEnvironmentStopsBeforeTheAdapters) {
  auto run = [this] {  // traces through the standard-error fallback, to be seen
    TTracker::SetProcessTracker(nullptr);
    Create(false);
    probe_->onInitialize = [] { std::fputs("adapter initialised\n", stderr); };
    ServeService(*service_, *platform_, server_, false, "");
  };
  // The message is the last thing before the abort (qemu-user adds a line of its own).
  const std::string qemuTrailer = "(qemu: [^\n]*\n)?$";
  unsetenv("SERVICE_ID");
  EXPECT_DEATH(run(), "SERVICE_ID is not set\n" + qemuTrailer);
}

}  // namespace
