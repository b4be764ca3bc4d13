// ipc-bench: the cost of one served call through our IPC runtime against the floor the
// kernel sets. (a) a raw AF_UNIX request/response ping-pong of a 64-byte message between two
// processes; (b) a GetObject round trip carrying a 16-byte name and answering a 16-byte value,
// from this process to a TIpcServer in another process. Both are measured in alternating
// rounds with the same placement (both peers and this process on one CPU, or with --unpinned
// all on every allowed CPU). Before the ratio it prints what a subscriber that never reads
// costs a loop of 1000 sets. Every figure is min / median / max over the rounds; last comes
// "ratio:", our round-trip time / the raw one of the same round.
//   usage: ipc-bench [--unpinned] [round trips per measurement, default 20000]
#include <getopt.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "os/WriteAll.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TNullInformationService.h"
#include "toi/TToiInformationObserverCaller.h"

namespace {

using bench::PrintSpread;
using bench::SecondsPer;
using bench::Spread;

constexpr size_t kRawMessage = 64;
constexpr int kRounds = 7;
constexpr int kSetsPerRound = 1000;
const char kName[] = "cfg.bench.16byte";  // 16 bytes

bool ReadFull(int fd, char* data, size_t size) {
  while (size) {
    const ssize_t got = read(fd, data, size);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

// The raw ping-pong peer: a child process echoing 64-byte messages on a socketpair until
// the pair closes.
class TRawPeer final {
 public:
  TRawPeer() : TRawPeer(MakePair()) {}

  pid_t GetPid() const { return child_.GetPid(); }
  // Seconds per round trip.
  double Measure(int roundTrips) {
    char message[kRawMessage] = {};
    return SecondsPer(roundTrips, [&](int) {
      WriteAll(fd_.Get(), message, sizeof message);
      ReadFull(fd_.Get(), message, sizeof message);
    });
  }

 private:
  explicit TRawPeer(std::pair<TUniqueFd, TUniqueFd> pair)
      : fd_(std::move(pair.first)), child_("ipc-bench raw peer", [this, &pair](TUniqueFd output) {
          output.Reset();
          fd_.Reset();
          char message[kRawMessage];
          while (ReadFull(pair.second.Get(), message, sizeof message) &&
                 WriteAll(pair.second.Get(), message, sizeof message)) {
          }
        }) {}

  static std::pair<TUniqueFd, TUniqueFd> MakePair() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
      throw TException(ErrnoMessage("socketpair", errno));
    }
    return {TUniqueFd(pair[0]), TUniqueFd(pair[1])};
  }

  TUniqueFd fd_;
  bench::TChildProcess child_;
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

// The served peer: a child process running a TIpcServer with an echoing service.
bench::TChildProcess StartServedPeer() {
  return bench::TChildProcess("ipc-bench server", [](TUniqueFd output) {
    // The server removes its socket when it goes, so it ends by SIGTERM, not by default.
    TEpollEventLoop loop;
    TIpcServer server(loop);
    TEchoService service(loop);
    const std::string served = server.CreateObject();
    TInformationServiceDispatcher dispatcher(server, served, service);
    bench::Announce(std::move(output), served);
    bench::RunUntilTerminated(loop);
  });
}

// Seconds per round trip.
double MeasureServed(TInformationServiceCaller& caller, int roundTrips) {
  std::string value;
  const double seconds = SecondsPer(roundTrips, [&](int) { caller.GetObject(kName, value); });
  if (value != kName) std::fprintf(stderr, "ipc-bench: wrong answer\n");
  return seconds;
}

// Milliseconds for a round of sets, each notifying the subscribers.
std::vector<double> MeasureSets(TInformationServiceCaller& caller) {
  std::vector<double> rounds;
  for (int round = 0; round < kRounds; ++round) {
    rounds.push_back(1e3 * kSetsPerRound * SecondsPer(kSetsPerRound, [&](int i) {
                       caller.SetObject("cfg.bench." + std::to_string(i), "v",
                                        IToiInformationService::eVolatile);
                     }));
  }
  return rounds;
}

// A subscriber that never reads: a listening socket nobody accepts on.
class TStalledSubscriber final {
 public:
  TStalledSubscriber() {
    char pattern[] = "/tmp/ipcbenchXXXXXX";
    if (!mkdtemp(pattern)) throw TException(ErrnoMessage("mkdtemp", errno));
    directory_ = pattern;
    const std::string path = directory_ + "/stalled.sock";
    listener_.Reset(socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_.Get(), 1) != 0) {
      throw TException(ErrnoMessage(path, errno));
    }
    address_ = TIpcAddress::Format(path, 1);
  }
  ~TStalledSubscriber() {
    listener_.Reset();
    unlink((directory_ + "/stalled.sock").c_str());
    rmdir(directory_.c_str());
  }
  TStalledSubscriber(const TStalledSubscriber&) = delete;
  TStalledSubscriber& operator=(const TStalledSubscriber&) = delete;

  const std::string& GetAddress() const { return address_; }

 private:
  std::string directory_;
  TUniqueFd listener_;
  std::string address_;
};

int Usage() {
  std::fprintf(stderr, "usage: ipc-bench [--unpinned] [round trips]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool pinned = true;
  const option options[] = {{"unpinned", no_argument, nullptr, 'u'}, {nullptr, 0, nullptr, 0}};
  for (int option; (option = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
    if (option != 'u') return Usage();
    pinned = false;
  }
  if (argc - optind > 1) return Usage();
  const int roundTrips = optind < argc ? std::atoi(argv[optind]) : 20000;
  if (roundTrips <= 0) return Usage();
  try {
    // Both peers run throughout and are measured in alternating rounds, so that load from
    // elsewhere on the machine hits both alike; the ratio is taken per round.
    bench::TPlacement placement(pinned);
    placement.Place(getpid(), "ipc-bench");
    TRawPeer rawPeer;
    placement.Place(rawPeer.GetPid(), "raw peer");
    const bench::TChildProcess servedPeer = StartServedPeer();
    if (servedPeer.GetAnnouncement().empty()) throw TException("the served peer did not start");
    placement.Place(servedPeer.GetPid(), "served peer");
    TIpcClient client;
    TInformationServiceCaller caller(&client, servedPeer.GetAnnouncement());
    rawPeer.Measure(1000);  // warm-up; the caller connects here
    MeasureServed(caller, 1000);
    std::vector<double> raws, serveds, ratios;
    const int perRound = roundTrips / kRounds + 1;
    for (int round = 0; round < kRounds; ++round) {
      raws.push_back(1e6 * rawPeer.Measure(perRound));
      serveds.push_back(1e6 * MeasureServed(caller, perRound));
      ratios.push_back(serveds.back() / raws.back());
    }
    // The cost a subscriber that stops reading puts on a loop of sets.
    const std::vector<double> setsAlone = MeasureSets(caller);
    TStalledSubscriber stalled;
    caller.SubscribeObject("*", 1, stalled.GetAddress());
    const std::vector<double> setsStalled = MeasureSets(caller);

    placement.Print();
    std::printf("%d rounds of %d round trips, %d rounds of %d sets\n", kRounds, perRound, kRounds,
                kSetsPerRound);
    PrintSpread("raw AF_UNIX 64-byte ping-pong", Spread(raws), "us");
    PrintSpread("served GetObject, 16-byte string", Spread(serveds), "us");
    PrintSpread("1000 sets", Spread(setsAlone), "ms");
    PrintSpread("1000 sets, a subscriber never reads", Spread(setsStalled), "ms");
    PrintSpread("ratio: served / raw", Spread(ratios), "");
  } catch (const TException& error) {
    std::fprintf(stderr, "ipc-bench: %s\n", error.GetText());
    return 1;
  }
  return 0;
}
