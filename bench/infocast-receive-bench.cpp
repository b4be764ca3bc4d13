// Datagrams per second through an Infocast channel's receive path (socket, event loop,
// engine, owner), fed over loopback by a second process from datagrams made beforehand,
// beside the raw recvfrom rate of the same sender in the same run.
//
//   infocast-receive-bench [--unpinned] [-n DATAGRAMS] [-r ROUNDS]
//
// Loads: "channel" sends changing 1400-byte CRC-32 objects of one packet (each one is
// checksummed and delivered); "carousel" repeats 100 unchanged objects (the common case);
// "raw" is a plain recvfrom loop. Sender and receiver run unpaced; the rate is what the
// receiver took divided by the time from its first to its last datagram. Then one paced run
// of changing objects at kPacedRate reports how many were lost. By default both processes are
// pinned to one CPU (the box has one core); --unpinned leaves them to the scheduler. Each load
// runs ROUNDS times, interleaved; lines give min / median / max, and the summary lines
// "channel: N datagrams/s", "carousel: N datagrams/s", "raw: N datagrams/s", "ratio: R"
// (raw / channel) use the medians.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "infocast/TInfocastChannel.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TUdpSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kPacedRate = 89000;
constexpr int kIdleMs = 300;           // a receiver that hears nothing this long is done
constexpr double kMaxRunSeconds = 30;  // and no run goes on longer than this
constexpr size_t kCarouselObjects = 100;
constexpr size_t kPacedBurst = static_cast<size_t>(kPacedRate / 1000);

class TObjects final : public IInformationObjectReader {
 public:
  std::string GetObject(const std::string& name) override {
    throw TUnknownObjectException("Unknown object " + name);
  }
};

class TNoAliases final : public INameTranslator {
 public:
  bool HasAlias(const std::string&) const override { return false; }
  std::string Translate(const std::string& name) const override { return name; }
};

// Holds the values as the Infocast adapter would.
class TOwner final : public IInfocastChannelCallback {
 public:
  bool OnCompareObject(const std::string& name, const std::string& value) override {
    const auto found = held_.find(name);
    return found != held_.end() && found->second == value;
  }
  void OnObjectChanged(const std::string& name, const std::string& value) override {
    held_[name] = value;
    ++delivered;
  }
  void OnDirectoryChanged(const std::string&, const std::string&, bool) override {}
  size_t delivered = 0;

 private:
  std::map<std::string, std::string> held_;
};

class TQuietTracker final : public TTracker {
 public:
  TQuietTracker() : TTracker(0) {}

 protected:
  void Output(int, const char*, va_list) override {}
};

// Forks a sender that waits for a byte on a pipe, then sends every datagram to port on
// 127.0.0.1 (at rate per second, or as fast as it can when rate is 0) and exits.
pid_t StartSender(const std::vector<std::string>& datagrams, int port, double rate, int& go) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t pid = fork();
  if (pid != 0) {
    close(fds[0]);
    go = fds[1];
    return pid;
  }
  close(fds[1]);  // the sender inherits the benchmark's placement
  TUdpSocket socket("127.0.0.1", 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char byte;
  if (read(fds[0], &byte, 1) != 1) _exit(1);
  const auto start = Clock::now();
  for (size_t i = 0; i < datagrams.size(); ++i) {
    // Paced: a burst per millisecond, sleeping in between, so that a sender pinned to the
    // receiver's CPU leaves it the time a head-end on another machine would.
    if (rate > 0 && i % kPacedBurst == 0) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(i / rate));
    }
    const std::string& d = datagrams[i];
    (void)sendto(socket.Get(), d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
  }
  _exit(0);
}

void Go(int go) {
  const char byte = 'g';
  (void)write(go, &byte, 1);
  close(go);
}

int FreePort() { return TUdpSocket("127.0.0.1", 0).GetPort(); }

struct TResult {
  double rate;
  size_t received;
};

// The channel's path: event loop, HandleEvent, engine, owner.
TResult RunChannel(const std::vector<std::string>& datagrams, const std::vector<std::string>& names,
                   double paceRate) {
  TQuietTracker tracker;
  TObjects objects;
  TNoAliases aliases;
  TOwner owner;
  TEpollEventLoop loop;
  const int port = FreePort();
  TInfocastChannel channel("127.0.0.1", port, TInfocastChannel::Persistent, 0, 0, 1600,
                           TInfocastChannel::Normal, objects, aliases, loop, IClock::System(),
                           tracker);
  channel.SetCallback(&owner);
  for (const std::string& name : names) channel.AddObject(name, 1);
  int go = -1;
  const pid_t sender = StartSender(datagrams, port, paceRate, go);
  Go(go);
  Clock::time_point first, last;
  const auto deadline = Clock::now() + std::chrono::duration<double>(kMaxRunSeconds);
  unsigned int seen = 0;
  while (channel.GetTotalPackets() < datagrams.size() && Clock::now() < deadline) {
    if (loop.RunOnce(kIdleMs) == 0 && seen > 0) break;
    if (channel.GetTotalPackets() != seen) {
      if (seen == 0) first = Clock::now();
      seen = channel.GetTotalPackets();
      last = Clock::now();
    }
  }
  waitpid(sender, nullptr, 0);
  const double seconds = std::chrono::duration<double>(last - first).count();
  return {seconds > 0 ? seen / seconds : 0, seen};
}

// The raw path: recvfrom into a buffer, nothing else.
TResult RunRaw(const std::vector<std::string>& datagrams) {
  const int port = FreePort();
  TUdpSocket socket("127.0.0.1", static_cast<uint16_t>(port));
  socket.SetReceiveBuffer(1024 * 1024);
  timeval idle{0, kIdleMs * 1000};
  const int fd = socket.Get();
  int go = -1;
  const pid_t sender = StartSender(datagrams, port, 0, go);
  Go(go);
  std::vector<char> buffer(1600);
  Clock::time_point first, last;
  size_t seen = 0;
  const auto deadline = Clock::now() + std::chrono::duration<double>(kMaxRunSeconds);
  // Blocking reads that give up after the idle time.
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  while (seen < datagrams.size() && Clock::now() < deadline) {
    const ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0, nullptr, nullptr);
    if (n < 0) {
      if (seen > 0 || errno != EAGAIN) break;
      continue;
    }
    if (seen++ == 0) first = Clock::now();
    last = Clock::now();
  }
  waitpid(sender, nullptr, 0);
  const double seconds = std::chrono::duration<double>(last - first).count();
  return {seconds > 0 ? seen / seconds : 0, seen};
}

std::vector<std::string> ChangingObjects(size_t count) {
  std::vector<std::string> datagrams;
  datagrams.reserve(count);
  const TInfocastPacketizer packetizer(1, TInfocastHeader::kPrecodingCrc32, "cfg.bench", 1400);
  std::string value(1400 - 44 - 4, 'v');
  for (size_t i = 0; i < count; ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "%015llu",
                  static_cast<unsigned long long>(i) % 1000000000000000ull);
    std::memcpy(value.data(), number, 15);  // every value differs
    datagrams.push_back(packetizer.Packetize(value)[0]);
  }
  return datagrams;
}

std::vector<std::string> Carousel(size_t count, std::vector<std::string>& names) {
  std::vector<std::string> objects;
  for (size_t i = 0; i < kCarouselObjects; ++i) {
    names.push_back("cfg.carousel." + std::to_string(i));
    const TInfocastPacketizer packetizer(1, TInfocastHeader::kPrecodingCrc32, names.back(), 1400);
    objects.push_back(packetizer.Packetize(std::string(1400 - 44 - 4, 'c'))[0]);
  }
  std::vector<std::string> datagrams;
  for (size_t i = 0; i < count; ++i) datagrams.push_back(objects[i % objects.size()]);
  return datagrams;
}

void Line(const char* label, const std::vector<double>& rates) {
  bench::PrintSpread(label, bench::Spread(rates), "datagrams/s");
}

double Median(const std::vector<double>& rates) { return bench::Spread(rates).median; }

}  // namespace

int main(int argc, char** argv) {
  bool pinned = true;
  size_t count = 200000;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--unpinned") {
      pinned = false;
    } else if (arg == "-n" && i + 1 < argc) {
      count = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "-r" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: infocast-receive-bench [--unpinned] [-n DATAGRAMS] [-r ROUNDS]\n");
      return 2;
    }
  }
  // Placed before the senders are forked: they inherit it.
  bench::TPlacement placement(pinned);
  placement.Place(getpid(), "infocast-receive-bench");
  placement.Print();
  const std::vector<std::string> changing = ChangingObjects(count);
  std::vector<std::string> carouselNames;
  const std::vector<std::string> carousel = Carousel(count, carouselNames);
  std::printf(
      "%zu datagrams of 1400 bytes per run, %d rounds; every sender runs where the "
      "benchmark runs\n",
      count, rounds);
  std::vector<double> channelRates, carouselRates, rawRates;
  for (int round = 0; round < rounds; ++round) {
    channelRates.push_back(RunChannel(changing, {"cfg.bench"}, 0).rate);
    carouselRates.push_back(RunChannel(carousel, carouselNames, 0).rate);
    rawRates.push_back(RunRaw(changing).rate);
  }
  Line("channel", channelRates);
  Line("carousel", carouselRates);
  Line("raw", rawRates);
  const size_t pacedCount = std::min<size_t>(count, static_cast<size_t>(kPacedRate * 2));
  const std::vector<std::string> paced(changing.begin(), changing.begin() + pacedCount);
  const TResult pacedResult = RunChannel(paced, {"cfg.bench"}, kPacedRate);
  std::printf("paced %.0f/s: %zu of %zu received, %zu lost\n", kPacedRate, pacedResult.received,
              pacedCount, pacedCount - pacedResult.received);
  const double channel = Median(channelRates);
  std::printf("channel: %.0f datagrams/s\n", channel);
  std::printf("carousel: %.0f datagrams/s\n", Median(carouselRates));
  std::printf("raw: %.0f datagrams/s\n", Median(rawRates));
  std::printf("ratio: %.2f\n", channel > 0 ? Median(rawRates) / channel : 0.0);
  return 0;
}
