// infoservice-bench: load figures of a live daemon, set against the raw IPC round trip.
//
//   infoservice-bench [-A ADDRESS | -i FILE] [-n COUNT]
//
// Without an address it starts its own daemon (standalone host mode, in a temporary root)
// from the build next to it. It measures, COUNT operations each:
//   get                  GetObject round trips of one volatile object
//   set                  SetObject round trips of volatile objects, each a change
//   set-10-subscribers   the same with 10 subscribers (each its own IPC server) notified
//   raw                  the round trip of a call that does nothing, to a server process of
//                        our own
// in five interleaved rounds, and prints the median "NAME: OPS ops/s" per figure, then the
// time per get and per notifying set as a multiple of the raw round trip ("get ratio: R",
// "set-10-subscribers ratio: R"). Last, it times a watch subscription with enumeration over
// 10,000 objects until every name arrived.
//
// The objects it sets are volatile and named bench.*; a daemon given with -A or -i keeps them.
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcProtocolDispatcher.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiInformationObserver.h"
#include "toi/IToiNameService.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TNameServiceCaller.h"
#include "toi/TNameServiceProtocol.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace {

using TClock = std::chrono::steady_clock;
constexpr int kSubscribers = 10;
constexpr int kEnumeratedObjects = 10000;
constexpr int kRounds = 5;
constexpr auto kVolatile = IToiInformationService::eVolatile;

double Seconds(TClock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// Runs `operation` count times and returns the operations per second.
template <typename TOperation>
double Rate(int count, TOperation operation) {
  const TClock::time_point start = TClock::now();
  for (int i = 0; i < count; ++i) operation(i);
  return count / Seconds(TClock::now() - start);
}

// An IPC server on a thread of its own serving one object; Stop ends it.
template <typename TDispatcher, typename TImplementation>
class TServerThread final {
 public:
  explicit TServerThread(TImplementation& implementation) {
    std::promise<std::string> address;
    std::future<std::string> ready = address.get_future();
    thread_ = std::thread([this, &implementation, &address] {
      TEpollEventLoop loop;
      TIpcServer server(loop);
      const std::string object = server.CreateObject();
      TDispatcher dispatcher(server, object, implementation);
      loop_ = &loop;
      address.set_value(object);
      loop.Run();
    });
    address_ = ready.get();
  }
  ~TServerThread() {
    loop_.load()->Stop();
    thread_.join();
  }
  TServerThread(const TServerThread&) = delete;
  TServerThread& operator=(const TServerThread&) = delete;

  const std::string& GetAddress() const { return address_; }

 private:
  std::thread thread_;
  std::atomic<TEpollEventLoop*> loop_{nullptr};
  std::string address_;
};

// The far end of the raw round trip: a lookup that answers at once.
class TEchoNameService final : public IToiNameService {
 public:
  void RegisterObject(const std::string&, const std::string&) override {}
  void LookupObject(const std::string& name, std::string& address) override { address = name; }
};

TEpollEventLoop* gEchoLoop = nullptr;

extern "C" void StopEcho(int) {
  if (gEchoLoop != nullptr) gEchoLoop->Stop();
}

// The echo server runs in a process of its own, like the daemon, so that the raw round trip
// pays the same process switches as a call to the daemon. Forked before anything else exists.
class TEchoProcess final {
 public:
  TEchoProcess() {
    int ends[2];
    if (pipe(ends) != 0) throw TException(ErrnoMessage("pipe", errno));
    pid_ = fork();
    if (pid_ < 0) throw TException(ErrnoMessage("fork", errno));
    if (pid_ == 0) {
      close(ends[0]);
      Serve(ends[1]);
    }
    close(ends[1]);
    char buffer[512];
    ssize_t length;
    while ((length = read(ends[0], buffer, sizeof buffer)) > 0) {
      address_.append(buffer, static_cast<size_t>(length));
    }
    close(ends[0]);
    if (address_.empty()) throw TException("the echo server did not start");
  }
  ~TEchoProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  TEchoProcess(const TEchoProcess&) = delete;
  TEchoProcess& operator=(const TEchoProcess&) = delete;

  const std::string& GetAddress() const { return address_; }

 private:
  [[noreturn]] static void Serve(int output) {
    try {
      TEchoNameService echo;
      TEpollEventLoop loop;
      TIpcServer server(loop);
      const std::string address = server.CreateObject();
      TIpcProtocolDispatcher<TNameServiceProtocol> dispatcher(server, address, echo);
      gEchoLoop = &loop;
      signal(SIGTERM, StopEcho);
      if (write(output, address.data(), address.size()) < 0) _exit(1);
      close(output);
      loop.Run();
      gEchoLoop = nullptr;
    } catch (const TException& e) {
      fprintf(stderr, "infoservice-bench: echo server: %s\n", e.GetText());
      _exit(1);
    }
    _exit(0);
  }

  pid_t pid_ = -1;
  std::string address_;
};

class TCountingObserver final : public IToiInformationObserver {
 public:
  void OnObjectsChanged(const TStringList& names) override { count_ += names.size(); }
  void OnObjectsRemoved(const TStringList& names) override { count_ += names.size(); }
  size_t GetCount() const { return count_; }

 private:
  std::atomic<size_t> count_{0};
};
using TObserverServer = TServerThread<TToiInformationObserverDispatcher, TCountingObserver>;

bool WaitForCount(const TCountingObserver& observer, size_t count, std::chrono::seconds limit) {
  const TClock::time_point end = TClock::now() + limit;
  while (observer.GetCount() < count && TClock::now() < end) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return observer.GetCount() >= count;
}

// --- a daemon of our own ---------------------------------------------------------------------

class TOwnDaemon final {
 public:
  TOwnDaemon() {
    char pattern[] = "/tmp/infoservice-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw TException(ErrnoMessage("mkdtemp", errno));
    root_ = pattern;
    mkdir((root_ + "/etc").c_str(), 0755);
    std::ofstream(root_ + "/etc/ial_token_value_dictionary.xml") << "<Objects></Objects>\n";
    setenv("INFOSERVICE_ROOT", root_.c_str(), 1);
    const std::string addressFile = root_ + "/address";
    const std::string program = ProgramDirectory() + "/../infoservice";
    const std::string log = root_ + "/infoservice.log";
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      execl(program.c_str(), program.c_str(), "-s", "-t", "-i", addressFile.c_str(), nullptr);
      _exit(127);
    }
    const TClock::time_point end = TClock::now() + std::chrono::seconds(20);
    while ((address_ = ReadAll(addressFile)).empty() && TClock::now() < end &&
           waitpid(pid_, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (address_.empty()) throw TException("the daemon " + program + " did not start");
  }
  ~TOwnDaemon() {
    kill(pid_, SIGHUP);
    waitpid(pid_, nullptr, 0);
    nftw(
        root_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TOwnDaemon(const TOwnDaemon&) = delete;
  TOwnDaemon& operator=(const TOwnDaemon&) = delete;

  const std::string& GetAddress() const { return address_; }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  static std::string ProgramDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.rfind('/'));
  }

  std::string root_;
  std::string address_;
  pid_t pid_ = -1;
};

// --- the figures -------------------------------------------------------------------------------

void Report(const char* name, double rate) { printf("%s: %.0f ops/s\n", name, rate); }

double MeasureRaw(TIpcClient& client, const std::string& echoAddress, int count) {
  TNameServiceCaller caller(&client, echoAddress);
  std::string answer;
  caller.LookupObject("warm-up", answer);
  return Rate(count, [&](int) { caller.LookupObject("bench", answer); });
}

double MeasureGet(IToiInformationService& service, int count) {
  std::string value;
  return Rate(count, [&](int) { service.GetObject("bench.get", value); });
}

// Values differ from every earlier one, so each set is a change that notifies.
double MeasureSet(IToiInformationService& service, const std::string& name, int count, int round) {
  return Rate(
      count, [&](int i) { service.SetObject(name, std::to_string(round * count + i), kVolatile); });
}

// Ten subscribers of bench.notify, each served by an IPC server of its own (as ten
// applications would be), subscribed for the lifetime of this object.
class TSubscribers final {
 public:
  explicit TSubscribers(IToiInformationService& service) : service_(service) {
    for (int i = 0; i < kSubscribers; ++i) {
      observers_.push_back(std::make_unique<TCountingObserver>());
      servers_.push_back(std::make_unique<TObserverServer>(*observers_.back()));
      service.SubscribeObject2("bench.notify", 0, servers_.back()->GetAddress(), false);
    }
  }
  ~TSubscribers() {
    for (const auto& server : servers_) {
      try {
        service_.UnsubscribeAllObjects(server->GetAddress());
      } catch (const TException&) {
      }
    }
  }
  TSubscribers(const TSubscribers&) = delete;
  TSubscribers& operator=(const TSubscribers&) = delete;

  // Reports notifications that did not arrive (within a bounded wait).
  void CheckDelivered(size_t sets) const {
    size_t delivered = 0;
    for (const auto& observer : observers_) {
      WaitForCount(*observer, sets, std::chrono::seconds(10));
      delivered += observer->GetCount();
    }
    if (delivered != sets * kSubscribers) {
      printf("set-10-subscribers: %zu of %zu notifications delivered\n", delivered,
             sets * kSubscribers);
    }
  }

 private:
  IToiInformationService& service_;
  std::vector<std::unique_ptr<TCountingObserver>> observers_;
  std::vector<std::unique_ptr<TObserverServer>> servers_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void MeasureEnumeration(IToiInformationService& service) {
  TStringList names;
  TStringList values;
  for (int i = 0; i < kEnumeratedObjects; ++i) {
    names.push_back("bench.enum." + std::to_string(i));
    values.push_back("value " + std::to_string(i));
  }
  service.SetObjects(names, values,
                     std::vector<IToiInformationService::TStorageType>(names.size(), kVolatile));
  TCountingObserver observer;
  TObserverServer server(observer);
  const TClock::time_point start = TClock::now();
  service.SubscribeObject2("bench.enum.*", 0, server.GetAddress(), true);
  const double call = Seconds(TClock::now() - start);
  const bool complete = WaitForCount(observer, kEnumeratedObjects, std::chrono::seconds(30));
  const double all = Seconds(TClock::now() - start);
  service.UnsubscribeAllObjects(server.GetAddress());
  printf("watch-enumeration-%d: %.1f ms (subscribe call %.1f ms), %zu names received%s\n",
         kEnumeratedObjects, all * 1000, call * 1000, observer.GetCount(),
         complete ? "" : " (incomplete)");
  service.UnsetObjects(names,
                       std::vector<IToiInformationService::TStorageType>(names.size(), kVolatile));
}

int Usage(const char* program) {
  fprintf(stderr, "Usage: %s [-A ADDRESS | -i FILE] [-n COUNT]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  std::string address;
  std::string addressFile;
  int count = 20000;
  for (int option; (option = getopt(argc, argv, "A:i:n:h")) != -1;) {
    switch (option) {
      case 'A':
        address = optarg;
        break;
      case 'i':
        addressFile = optarg;
        break;
      case 'n':
        count = atoi(optarg);
        break;
      default:
        return Usage(argv[0]);
    }
  }
  if (count <= 0) return Usage(argv[0]);
  try {
    TEchoProcess echo;
    std::unique_ptr<TOwnDaemon> own;
    if (address.empty() && !addressFile.empty()) address = TOwnDaemon::ReadAll(addressFile);
    if (address.empty()) {
      own = std::make_unique<TOwnDaemon>();
      address = own->GetAddress();
    }
    TIpcClient client;
    TCIpcClient_Init(&client);
    TInformationServiceCaller service(&client, address);
    // The figures are taken in interleaved rounds and each is the median over the rounds, so
    // that a burst of other load on the machine does not fall on one figure only.
    service.SetObject("bench.get", "a value of a typical length", kVolatile);
    TSubscribers subscribers(service);
    const int perRound = std::max(1, count / kRounds);
    std::vector<double> gets, sets, notifyings, raws;
    for (int round = 0; round < kRounds; ++round) {
      gets.push_back(MeasureGet(service, perRound));
      sets.push_back(MeasureSet(service, "bench.set", perRound, round));
      notifyings.push_back(MeasureSet(service, "bench.notify", perRound, round));
      raws.push_back(MeasureRaw(client, echo.GetAddress(), perRound));
    }
    subscribers.CheckDelivered(static_cast<size_t>(perRound) * kRounds);
    const double get = Median(gets);
    const double set = Median(sets);
    const double notifying = Median(notifyings);
    const double raw = Median(raws);
    Report("get", get);
    Report("set", set);
    Report("set-10-subscribers", notifying);
    Report("raw", raw);
    printf("get ratio: %.2f\n", raw / get);
    printf("set-10-subscribers ratio: %.2f\n", raw / notifying);
    MeasureEnumeration(service);
    service.UnsetObjects({"bench.get", "bench.set", "bench.notify"},
                         std::vector<IToiInformationService::TStorageType>(3, kVolatile));
    TCIpcClient_CleanUp(&client);
  } catch (const TException& e) {
    fprintf(stderr, "infoservice-bench: %s\n", e.GetText());
    return 1;
  }
  return 0;
}
