// ipc-bench: the cost of one served call through our IPC runtime against the floor the
// kernel sets. (a) a raw AF_UNIX request/response ping-pong of a 64-byte message between two
// processes; (b) a GetObject round trip carrying a 16-byte name and answering a 16-byte value,
// from a client process to a TIpcServer in another process. Prints both rates and, last,
// "ratio: R" = our round-trip time / the raw one. Times are medians of alternating blocks.
// Before the ratio it prints what a subscriber that never reads costs a loop of 1000 sets.
//   usage: ipc-bench [round trips per measurement, default 20000]
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TNullInformationService.h"
#include "toi/TToiInformationObserverCaller.h"

namespace {

constexpr size_t kRawMessage = 64;
const char kName[] = "cfg.bench.16byte";  // 16 bytes

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool ReadFull(int fd, char* data, size_t size) {
  while (size) {
    const ssize_t got = read(fd, data, size);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteFull(int fd, const char* data, size_t size) {
  while (size) {
    const ssize_t put = write(fd, data, size);
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// The raw ping-pong peer: a child process echoing 64-byte messages on a socketpair.
struct TRawPeer {
  int fd = -1;
  pid_t child = -1;

  void Start() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::exit(1);
    child = fork();
    if (child < 0) std::exit(1);
    if (child == 0) {
      close(pair[0]);
      char message[kRawMessage];
      while (ReadFull(pair[1], message, sizeof message) &&
             WriteFull(pair[1], message, sizeof message)) {
      }
      _exit(0);
    }
    close(pair[1]);
    fd = pair[0];
  }
  // Seconds per round trip.
  double Measure(int roundTrips) {
    char message[kRawMessage] = {};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < roundTrips; ++i) {
      WriteFull(fd, message, sizeof message);
      ReadFull(fd, message, sizeof message);
    }
    return SecondsSince(start) / roundTrips;
  }
  void Stop() {
    close(fd);
    waitpid(child, nullptr, 0);
  }
};

// Answers a get with the name; a set notifies every subscriber one-way, as the daemon does,
// dropping what cannot be delivered.
class TEchoService final : public TNullInformationService {
 public:
  explicit TEchoService(TEpollEventLoop& loop) : client_(loop) {}
  void GetObject(const std::string& name, std::string& value) override { value = name; }
  void SetObject(const std::string& name, const std::string&, TStorageType) override {
    for (const auto& address : subscribers_) {
      try {
        TToiInformationObserverCaller(&client_, address).OnObjectsChanged({name});
      } catch (const TException&) {
      }
    }
  }
  void SubscribeObject(const std::string&, int, const std::string& address) override {
    subscribers_.push_back(address);
  }

 private:
  TIpcClient client_;
  std::vector<std::string> subscribers_;
};

TEpollEventLoop* gLoop = nullptr;
extern "C" void StopServer(int) {
  if (gLoop) gLoop->Stop();
}

// The served peer: a child process running a TIpcServer with an echoing service.
struct TServedPeer {
  pid_t child = -1;
  std::string address;

  void Start() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) std::exit(1);
    child = fork();
    if (child < 0) std::exit(1);
    if (child == 0) {
      close(pipeFds[0]);
      {  // the server removes its socket when it goes
        TEpollEventLoop loop;
        TIpcServer server(loop);
        TEchoService service(loop);
        const std::string served = server.CreateObject();
        TInformationServiceDispatcher dispatcher(server, served, service);
        gLoop = &loop;
        signal(SIGTERM, StopServer);
        WriteFull(pipeFds[1], served.data(), served.size());
        close(pipeFds[1]);
        loop.Run();
        gLoop = nullptr;
      }
      _exit(0);
    }
    close(pipeFds[1]);
    char chunk[256];
    for (ssize_t got; (got = read(pipeFds[0], chunk, sizeof chunk)) > 0;)
      address.append(chunk, got);
    close(pipeFds[0]);
  }
  // Seconds per round trip.
  double Measure(TInformationServiceCaller& caller, int roundTrips) {
    std::string value;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < roundTrips; ++i) caller.GetObject(kName, value);
    const double seconds = SecondsSince(start);
    if (value != kName) std::fprintf(stderr, "ipc-bench: wrong answer\n");
    return seconds / roundTrips;
  }
  void Stop() {
    if (child > 0) kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
  }
};

// Seconds for 1000 sets, each notifying the subscribers.
double MeasureSets(TInformationServiceCaller& caller) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) {
    caller.SetObject("cfg.bench." + std::to_string(i), "v", IToiInformationService::eVolatile);
  }
  return SecondsSince(start);
}

// A subscriber that never reads: a listening socket nobody accepts on.
struct TStalledSubscriber {
  std::string directory;
  int listener = -1;

  std::string Start() {
    char pattern[] = "/tmp/ipcbenchXXXXXX";
    if (!mkdtemp(pattern)) std::exit(1);
    directory = pattern;
    const std::string path = directory + "/stalled.sock";
    listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0) {
      std::exit(1);
    }
    return TIpcAddress::Format(path, 1);
  }
  void Stop() {
    close(listener);
    unlink((directory + "/stalled.sock").c_str());
    rmdir(directory.c_str());
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (roundTrips <= 0) {
    std::fprintf(stderr, "usage: ipc-bench [round trips]\n");
    return 2;
  }
  try {
    // Both peers run throughout and are measured in alternating blocks, so that load from
    // elsewhere on the machine hits both alike; each figure is the median block.
    constexpr int kBlocks = 7;
    TRawPeer rawPeer;
    TServedPeer servedPeer;
    rawPeer.Start();
    servedPeer.Start();
    TIpcClient client;
    TInformationServiceCaller caller(&client, servedPeer.address);
    rawPeer.Measure(1000);  // warm-up; the caller connects here
    servedPeer.Measure(caller, 1000);
    std::vector<double> raws;
    std::vector<double> serveds;
    for (int block = 0; block < kBlocks; ++block) {
      raws.push_back(rawPeer.Measure(roundTrips / kBlocks + 1));
      serveds.push_back(servedPeer.Measure(caller, roundTrips / kBlocks + 1));
    }
    // The cost a subscriber that stops reading puts on a loop of 1000 sets.
    const double setsAlone = MeasureSets(caller);
    TStalledSubscriber stalled;
    caller.SubscribeObject("*", 1, stalled.Start());
    const double setsStalled = MeasureSets(caller);
    stalled.Stop();
    servedPeer.Stop();  // first: it inherited the raw peer's socket
    rawPeer.Stop();
    const double raw = Median(raws);
    const double served = Median(serveds);
    std::printf("raw AF_UNIX 64-byte ping-pong: %.0f round trips/s (%.2f us)\n", 1 / raw,
                raw * 1e6);
    std::printf("served GetObject, 16-byte string: %.0f calls/s (%.2f us)\n", 1 / served,
                served * 1e6);
    std::printf("1000 sets: %.1f ms alone, %.1f ms with a subscriber that never reads\n",
                setsAlone * 1e3, setsStalled * 1e3);
    std::printf("ratio: %.3f\n", served / raw);
  } catch (const TException& error) {
    std::fprintf(stderr, "ipc-bench: %s\n", error.GetText());
    return 1;
  }
  return 0;
}
