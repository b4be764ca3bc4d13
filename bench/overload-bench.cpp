// overload-bench: a well-behaved client's gets while the daemon's meta channel is flooded with
// bad datagrams, against the same gets without the flood, in one run.
//
//   overload-bench [--unpinned] [-d SECONDS] [-r ROUNDS]
//
// Starts its own daemon (standalone host mode) with its meta channel on 127.0.0.1 and, in
// each round, two phases of SECONDS (default 4, more than 2): quiet, then flooded, where a
// process of its own sends one-packet root configurations with a wrong CRC-32 to the channel
// as fast as loopback takes them (each costs the daemon the whole object path and a checksum
// error). In both phases a get is timed every millisecond. Per phase it prints, as min /
// median / max over the rounds (default 3): the get latency p50 and p99, the daemon's CPU
// share, the log lines it wrote per second, the lines per second that the flood added once
// its first second (the burst earned back while quiet) is over, and the datagrams sent per
// second; last the ratio of p99 flooded / p99 quiet. The benchmark and the daemon run on one
// CPU, the flooder, which stands for the network, on the others; with --unpinned all of them
// on every allowed CPU.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "bench/DaemonSupport.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "ipc/TIpcClient.h"
#include "os/TUdpSocket.h"
#include "toi/TInformationServiceCaller.h"

namespace {

using namespace bench;

constexpr auto kGetInterval = std::chrono::milliseconds(1);
// Bounds the samples of one phase; a get a millisecond for at most 60 s stays below it.
constexpr size_t kMaxSamplesPerPhase = 100000;
constexpr auto kVolatile = IToiInformationService::eVolatile;

// The flooder's state, set by its signal handlers: SIGUSR1 starts the flood, SIGUSR2 pauses
// it, SIGTERM ends the process.
volatile sig_atomic_t g_flooding = 0;
volatile sig_atomic_t g_ended = 0;

// A root configuration of one packet whose CRC-32 does not match its data.
std::string BadDatagram() {
  TInfocastPacketizer packetizer(1, TInfocastHeader::kPrecodingCrc32, "infocast2.conf", 1400);
  std::vector<std::string> datagrams = packetizer.Packetize(std::string(1300, 'x'));
  if (datagrams.size() != 1) throw TException("the flood datagram is not one packet");
  datagrams[0].back() ^= 0x5a;
  return datagrams[0];
}

sockaddr_in Loopback(int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return to;
}

bool SendOne(const TUdpSocket& socket, const sockaddr_in& to, const std::string& datagram) {
  return sendto(socket.Get(), datagram.data(), datagram.size(), 0,
                reinterpret_cast<const sockaddr*>(&to),
                sizeof to) == static_cast<ssize_t>(datagram.size());
}

// The flooder: sends while flooding, counting in `sent` (shared with the parent); paused,
// it looks at its state every millisecond, which costs next to nothing.
TChildProcess StartFlooder(int port, std::atomic<uint64_t>* sent) {
  return TChildProcess("flooder", [port, sent](TUniqueFd output) {
    signal(SIGUSR1, [](int) { g_flooding = 1; });
    signal(SIGUSR2, [](int) { g_flooding = 0; });
    signal(SIGTERM, [](int) { g_ended = 1; });
    const TUdpSocket socket("127.0.0.1", 0);
    const sockaddr_in to = Loopback(port);
    const std::string datagram = BadDatagram();
    Announce(std::move(output), "ready");
    while (!g_ended) {
      if (!g_flooding) {
        usleep(1000);
      } else if (SendOne(socket, to, datagram)) {
        sent->fetch_add(1, std::memory_order_relaxed);
      }
    }
  });
}

// The flood stands for another machine on the network: pinned, it runs on the CPUs that the
// benchmark and the daemon leave (when there are any), so that it takes nothing from them
// but the receive path; unpinned, it shares every CPU like the rest.
// `allowed` is what the benchmark could use before it placed itself.
void PlaceApart(TPlacement& placement, bool pinned, pid_t pid, const cpu_set_t& allowed) {
  cpu_set_t apart = allowed;
  cpu_set_t own;
  CPU_ZERO(&own);
  if (pinned && sched_getaffinity(getpid(), sizeof own, &own) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &own)) CPU_CLR(cpu, &apart);
    }
  }
  if (CPU_COUNT(&apart) == 0) apart = allowed;
  if (sched_setaffinity(pid, sizeof apart, &apart) != 0) {
    throw TException(ErrnoMessage("sched_setaffinity flooder", errno));
  }
  std::string cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &apart)) cpus += (cpus.empty() ? "" : ",") + std::to_string(cpu);
  }
  placement.Note("flooder pid " + std::to_string(pid) + " on CPUs " + cpus +
                 (pinned ? " (apart: it stands for the network)" : ""));
}

// User and system time of a process, in seconds.
double CpuSeconds(pid_t pid) {
  const std::string text = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

size_t LogLines(const TOwnDaemon& daemon) {
  const std::string log = ReadAll(daemon.GetLogPath());
  return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

// The first second of a flooded phase holds the burst that the quiet phase earned back; the
// steady rate is counted after it.
constexpr double kBurstSeconds = 1;

struct TPhase {
  double p50Us;
  double p99Us;
  double cpuPercent;
  double linesPerSecond;
  double steadyLinesPerSecond;
};

// Times a get every kGetInterval for `seconds`, and what the daemon spent meanwhile.
TPhase MeasurePhase(IToiInformationService& service, const TOwnDaemon& daemon, double seconds) {
  std::vector<double> samples;
  std::string value;
  const size_t lines = LogLines(daemon);
  const double cpu = CpuSeconds(daemon.GetPid());
  const TClock::time_point start = TClock::now();
  TClock::time_point next = start;
  size_t linesAfterBurst = 0;
  double burstEnd = 0;
  while (SecondsSince(start) < seconds && samples.size() < kMaxSamplesPerPhase) {
    if (burstEnd == 0 && SecondsSince(start) >= kBurstSeconds) {
      burstEnd = SecondsSince(start);
      linesAfterBurst = LogLines(daemon);
    }
    const TClock::time_point before = TClock::now();
    service.GetObject("bench.probe", value);
    samples.push_back(1e6 * SecondsSince(before));
    next += kGetInterval;
    std::this_thread::sleep_until(next);
  }
  const double elapsed = SecondsSince(start);
  const size_t linesAtEnd = LogLines(daemon);
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100],
          100.0 * (CpuSeconds(daemon.GetPid()) - cpu) / elapsed,
          static_cast<double>(linesAtEnd - lines) / elapsed,
          static_cast<double>(linesAtEnd - linesAfterBurst) / (elapsed - burstEnd)};
}

int Usage(const char* program) {
  fprintf(stderr, "Usage: %s [--unpinned] [-d SECONDS] [-r ROUNDS]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  double seconds = 4;
  int rounds = 3;
  bool pinned = true;
  const option options[] = {{"unpinned", no_argument, nullptr, 'u'}, {nullptr, 0, nullptr, 0}};
  for (int option; (option = getopt_long(argc, argv, "d:r:h", options, nullptr)) != -1;) {
    switch (option) {
      case 'd':
        seconds = atof(optarg);
        break;
      case 'r':
        rounds = atoi(optarg);
        break;
      case 'u':
        pinned = false;
        break;
      default:
        return Usage(argv[0]);
    }
  }
  if (seconds <= 2 * kBurstSeconds || seconds > 60 || rounds <= 0 || rounds > 100 ||
      optind != argc) {
    return Usage(argv[0]);
  }
  try {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
      throw TException(ErrnoMessage("sched_getaffinity", errno));
    }
    TPlacement placement(pinned);
    placement.Place(getpid(), "overload-bench");
    const int port = TUdpSocket("127.0.0.1", 0).GetPort();
    TOwnDaemon daemon({"-m", "127.0.0.1:" + std::to_string(port)});
    placement.Place(daemon.GetPid(), "daemon");
    // The channel is open once a bad datagram leaves a trace.
    {
      const TUdpSocket socket("127.0.0.1", 0);
      const size_t before = LogLines(daemon);
      const TClock::time_point start = TClock::now();
      while (LogLines(daemon) == before) {
        if (SecondsSince(start) > 20) throw TException("the meta channel did not open");
        SendOne(socket, Loopback(port), BadDatagram());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    void* shared = mmap(nullptr, sizeof(std::atomic<uint64_t>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) throw TException(ErrnoMessage("mmap", errno));
    auto* sent = new (shared) std::atomic<uint64_t>(0);

    // Forked before the client exists, so the child holds nothing of it.
    const TChildProcess flooder = StartFlooder(port, sent);
    if (flooder.GetAnnouncement().empty()) throw TException("the flooder did not start");
    PlaceApart(placement, pinned, flooder.GetPid(), allowed);
    TIpcClient client;
    TCIpcClient_Init(&client);
    TInformationServiceCaller service(&client, daemon.GetAddress());
    service.SetObject("bench.probe", "a value of a typical length", kVolatile);
    std::vector<double> quietP50, quietP99, floodP50, floodP99, quietCpu, floodCpu, quietLines,
        floodLines, floodSteady, rates, ratios;
    for (int round = 0; round < rounds; ++round) {
      const TPhase quiet = MeasurePhase(service, daemon, seconds);
      const uint64_t before = sent->load();
      kill(flooder.GetPid(), SIGUSR1);
      const TClock::time_point start = TClock::now();
      const TPhase flood = MeasurePhase(service, daemon, seconds);
      kill(flooder.GetPid(), SIGUSR2);
      rates.push_back(static_cast<double>(sent->load() - before) / SecondsSince(start));
      quietP50.push_back(quiet.p50Us);
      quietP99.push_back(quiet.p99Us);
      floodP50.push_back(flood.p50Us);
      floodP99.push_back(flood.p99Us);
      quietCpu.push_back(quiet.cpuPercent);
      floodCpu.push_back(flood.cpuPercent);
      quietLines.push_back(quiet.linesPerSecond);
      floodLines.push_back(flood.linesPerSecond);
      floodSteady.push_back(flood.steadyLinesPerSecond - quiet.steadyLinesPerSecond);
      ratios.push_back(flood.p99Us / quiet.p99Us);
    }
    placement.Print();
    printf("%d rounds of %.1f s quiet and %.1f s flooded, a get every %lld ms\n", rounds, seconds,
           seconds, static_cast<long long>(kGetInterval.count()));
    PrintSpread("get p50 quiet", Spread(quietP50), "us");
    PrintSpread("get p99 quiet", Spread(quietP99), "us");
    PrintSpread("get p50 flooded", Spread(floodP50), "us");
    PrintSpread("get p99 flooded", Spread(floodP99), "us");
    PrintSpread("daemon cpu quiet", Spread(quietCpu), "%");
    PrintSpread("daemon cpu flooded", Spread(floodCpu), "%");
    PrintSpread("log lines quiet", Spread(quietLines), "lines/s");
    PrintSpread("log lines flooded", Spread(floodLines), "lines/s");
    PrintSpread("log lines of the flood after 1 s", Spread(floodSteady), "lines/s");
    PrintSpread("flood sent", Spread(rates), "datagrams/s");
    PrintSpread("get p99 ratio flooded / quiet", Spread(ratios), "");
    TCIpcClient_CleanUp(&client);
  } catch (const TException& e) {
    fprintf(stderr, "overload-bench: %s\n", e.GetText());
    return 1;
  }
  return 0;
}
