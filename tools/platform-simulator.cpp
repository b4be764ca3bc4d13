// platform-simulator: plays the box's platform for development and tests. It serves a name
// service, a platform service and an application service on one IPC server, registers the
// latter two in its own name service ("PlatformService", "ApplicationService"), prints the
// name-service address, logs every call it receives on one line of standard output, and calls
// Ping, OnUnload, OnLoad, OnStandbyChanged and OnStateChanged on what registered with it when
// told to, from the command line (-t) or from a control command on standard input.
// Options and commands: docs/ipc.md.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/TException.h"
#include "base/TStderrTracker.h"
#include "base/TTracker.h"
#include "daemon/AddressFile.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiApplicationService.h"
#include "toi/IToiNameService.h"
#include "toi/IToiPlatformService.h"
#include "toi/TApplicationServiceDispatcher.h"
#include "toi/TNameServiceDispatcher.h"
#include "toi/TPlatformComponentCaller.h"
#include "toi/TPlatformServiceDispatcher.h"
#include "toi/TToiApplicationObserverCaller.h"

namespace {

const char kUsage[] =
    "usage: platform-simulator [-a FILE] [-p MS] [-t MS:COMMAND]... [-q] [-h]\n"
    "  -a FILE        also write the name-service address to FILE (no newline)\n"
    "  -p MS          call Ping on every registered component every MS milliseconds\n"
    "  -t MS:COMMAND  run a control command MS milliseconds after start (repeatable)\n"
    "  -q             do not read control commands from standard input\n"
    "  -h             this text\n"
    "control commands (standard input, one per line):\n"
    "  ping | load | standby | unload [0|1]   call it on every registered component\n"
    "  state ID:STATE[,ID:STATE...]           OnStateChanged on every registered observer\n"
    "  list                                   print the registrations\n"
    "  quit                                   stop\n";

TEpollEventLoop* gLoop = nullptr;

extern "C" void StopOnSignal(int) {
  if (gLoop) gLoop->Stop();
}

void Log(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The platform's three services in one object; everything runs on the loop thread.
class TSimulatedPlatform final : public IToiNameService,
                                 public IToiPlatformService,
                                 public IToiApplicationService {
 public:
  explicit TSimulatedPlatform(TIpcClient& client) : client_(client) {}

  void AddName(const std::string& name, const std::string& address) { names_[name] = address; }

  // IToiNameService
  void RegisterObject(const std::string& name, const std::string& address) override {
    Log("call RegisterObject " + name + " " + address);
    names_[name] = address;
  }
  void LookupObject(const std::string& name, std::string& address) override {
    auto found = names_.find(name);
    Log("call LookupObject " + name + (found == names_.end() ? " (unknown)" : ""));
    if (found == names_.end()) throw TUnknownObjectException("Unknown name");
    address = found->second;
  }

  // IToiPlatformService
  void RegisterComponent(int serviceId, const std::string& componentAddress) override {
    Log("call RegisterComponent " + std::to_string(serviceId) + " " + componentAddress);
    components_[serviceId] = componentAddress;
  }
  void ReportPing(int serviceId) override { Log("call ReportPing " + std::to_string(serviceId)); }
  void UnloadDone(int serviceId) override { Log("call UnloadDone " + std::to_string(serviceId)); }

  // IToiApplicationService
  void RegisterService(const std::string& observerAddress) override {
    Log("call RegisterService " + observerAddress);
    observers_.push_back(observerAddress);
  }
  void StartInstance(int instanceId) override {
    Log("call StartInstance " + std::to_string(instanceId));
  }
  void ReleaseInstance(int instanceId) override {
    Log("call ReleaseInstance " + std::to_string(instanceId));
  }

  // Runs one control command; false for an unknown one.
  bool Command(const std::string& line, TEpollEventLoop& loop) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb.empty()) return true;
    if (verb == "quit") {
      loop.Stop();
    } else if (verb == "list") {
      for (const auto& entry : names_) Log("name " + entry.first + " " + entry.second);
      for (const auto& entry : components_) {
        Log("component " + std::to_string(entry.first) + " " + entry.second);
      }
      for (const auto& address : observers_) Log("observer " + address);
    } else if (verb == "ping" || verb == "load" || verb == "standby" || verb == "unload") {
      int flag = 0;
      words >> flag;
      for (const auto& entry : components_) CallComponent(verb, flag != 0, entry.second);
    } else if (verb == "state") {
      std::string list;
      words >> list;
      IToiApplicationObserver::TApplicationStateInfoList infos;
      if (!ParseStates(list, infos)) return false;
      for (const auto& address : observers_) {
        Deliver("OnStateChanged " + list, address,
                [&] { TToiApplicationObserverCaller(&client_, address).OnStateChanged(infos); });
      }
    } else {
      return false;
    }
    return true;
  }

 private:
  void CallComponent(const std::string& verb, bool flag, const std::string& address) {
    TPlatformComponentCaller component(&client_, address);
    if (verb == "ping") Deliver("Ping", address, [&] { component.Ping(); });
    if (verb == "load") Deliver("OnLoad", address, [&] { component.OnLoad(); });
    if (verb == "standby") {
      Deliver("OnStandbyChanged", address, [&] { component.OnStandbyChanged(); });
    }
    if (verb == "unload") {
      Deliver(std::string("OnUnload ") + (flag ? "1" : "0"), address,
              [&] { component.OnUnload(flag); });
    }
  }

  template <typename F>
  static void Deliver(const std::string& what, const std::string& address, F send) {
    try {
      send();
      Log("sent " + what + " to " + address);
    } catch (const TException& error) {
      Log("failed " + what + " to " + address + ": " + error.GetText());
    }
  }

  static bool ParseStates(const std::string& text,
                          IToiApplicationObserver::TApplicationStateInfoList& infos) {
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
      int id = 0;
      int state = 0;
      char colon = 0;
      std::istringstream pair(item);
      if (!(pair >> id >> colon >> state) || colon != ':') return false;
      infos.push_back({id, state});
    }
    return !infos.empty();
  }

  TIpcClient& client_;
  std::map<std::string, std::string> names_;
  std::map<int, std::string> components_;
  std::vector<std::string> observers_;
};

// Control commands from standard input, a line at a time.
class TCommandReader final : public IIOEventHandler {
 public:
  TCommandReader(TSimulatedPlatform& platform, TEpollEventLoop& loop)
      : platform_(platform), loop_(loop) {}

  // IIOEventHandler
  void HandleEvent(int descriptor, unsigned int) override {
    char chunk[4096];
    const ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) return;
      // End of input: keep serving, commands can still come from -t.
      loop_.UnregisterFileDescriptor(descriptor);
      return;
    }
    pending_.append(chunk, static_cast<size_t>(got));
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!platform_.Command(line, loop_)) Log("unknown command: " + line);
    }
    if (pending_.size() > 65536) pending_.clear();  // not a command any more
  }

 private:
  TSimulatedPlatform& platform_;
  TEpollEventLoop& loop_;
  std::string pending_;
};

// A command run once after its delay, or (ping every -p) again at each period.
class TScheduledCommand final : public IIOTimeoutHandler {
 public:
  TScheduledCommand(std::string command, TSimulatedPlatform& platform, TEpollEventLoop& loop)
      : command_(std::move(command)), platform_(platform), loop_(loop) {}

  // IIOTimeoutHandler
  void HandleTimeout(int) override {
    if (!platform_.Command(command_, loop_)) Log("unknown command: " + command_);
  }

 private:
  std::string command_;
  TSimulatedPlatform& platform_;
  TEpollEventLoop& loop_;
};

bool ParseMilliseconds(const char* text, unsigned& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (errno || end == text || (*end && *end != ':') || parsed > 86400000UL) return false;
  value = static_cast<unsigned>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string addressFile;
  unsigned pingPeriod = 0;
  bool readStdin = true;
  std::vector<std::pair<unsigned, std::string>> scheduled;
  int option;
  while ((option = getopt(argc, argv, "a:p:t:qh")) != -1) {
    switch (option) {
      case 'a':
        addressFile = optarg;
        break;
      case 'p':
        if (!ParseMilliseconds(optarg, pingPeriod) || pingPeriod == 0) {
          std::fprintf(stderr, "platform-simulator: bad period '%s'\n%s", optarg, kUsage);
          return 2;
        }
        break;
      case 't': {
        unsigned delay = 0;
        const char* colon = std::strchr(optarg, ':');
        if (!colon || !ParseMilliseconds(optarg, delay)) {
          std::fprintf(stderr, "platform-simulator: bad -t '%s'\n%s", optarg, kUsage);
          return 2;
        }
        scheduled.emplace_back(delay, colon + 1);
        break;
      }
      case 'q':
        readStdin = false;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      default:
        std::fputs(kUsage, stderr);
        return 2;
    }
  }
  if (optind != argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  TStderrTracker tracker(TTracker::kTrace, false);
  TTracker::SetProcessTracker(&tracker);
  try {
    TEpollEventLoop loop;
    TIpcClient client(loop);
    TCIpcClient_Init(&client);
    TIpcServer server(loop);
    TSimulatedPlatform platform(client);
    const std::string nameAddress = server.CreateObject();
    const std::string platformAddress = server.CreateObject();
    const std::string applicationAddress = server.CreateObject();
    TNameServiceDispatcher nameDispatcher(server, nameAddress, platform);
    TPlatformServiceDispatcher platformDispatcher(server, platformAddress, platform);
    TApplicationServiceDispatcher applicationDispatcher(server, applicationAddress, platform);
    platform.AddName("PlatformService", platformAddress);
    platform.AddName("ApplicationService", applicationAddress);

    if (!addressFile.empty() && !WriteAddressFile(addressFile, nameAddress)) {
      std::fprintf(stderr, "platform-simulator: cannot write '%s'\n", addressFile.c_str());
      return 1;
    }
    Log("NAMESERVICE_ADDRESS=" + nameAddress);

    gLoop = &loop;
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TCommandReader reader(platform, loop);
    if (readStdin) {
      try {
        loop.RegisterFileDescriptor(0, IIOEventLoop::kReadable, 0, &reader);
      } catch (const TException& error) {
        // A regular file or /dev/null cannot be watched; -t still works.
        Log(std::string("no control commands from standard input: ") + error.GetText());
      }
    }
    std::vector<std::unique_ptr<TScheduledCommand>> timers;
    if (pingPeriod) {
      timers.push_back(std::make_unique<TScheduledCommand>("ping", platform, loop));
      loop.AddTimeout(pingPeriod, timers.back().get());
    }
    for (const auto& entry : scheduled) {
      timers.push_back(std::make_unique<TScheduledCommand>(entry.second, platform, loop));
      loop.AddOneShotTimeout(entry.first, timers.back().get());
    }
    loop.Run();
    gLoop = nullptr;
    Log("stopped");
    TCIpcClient_CleanUp(&client);
  } catch (const TException& error) {
    std::fprintf(stderr, "platform-simulator: %s\n", error.GetText());
    return 1;
  }
  return 0;
}
