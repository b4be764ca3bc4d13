// cache-bench: reads through the client library's cache against reads that are calls, and how
// long a change in another process takes to reach a cached reader.
//
//   cache-bench [--unpinned] [-n READS] [-s CHANGES]
//
// It starts its own daemon (standalone host mode, in a temporary root) from the build next to
// it, an echo server and a setter process, and measures in five interleaved rounds:
//   cached-get     reads/s of one cached name through TInfoClient::Get (READS per round)
//   uncached-get   reads/s of the same name through a client that caches nothing
//   raw            calls/s of the raw IPC round trip, a lookup at the echo server
// each from one thread and from 4 threads (the cached readers share one client; the others
// have one client each, as a call holds its client's connection for its length). Then the
// setter changes the cached name CHANGES times, one change at a time, writing the time it
// started the set into the value; the reader polls its cached copy and takes the time from
// that start until it sees the new value (staleness, p50 / p99 / max).
//
// The output ends in the summary lines: `cached-get: N reads/s`, `uncached-get: N reads/s`
// (medians, one thread), `staleness-p50/p99: N us`, and last `cache-speedup: R`, the median
// of the per-round ratio cached / uncached. Every process and thread involved runs on one CPU,
// or with --unpinned on every allowed CPU.
#include <getopt.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "bench/DaemonSupport.h"
#include "client/TInfoClient.h"
#include "ipc/TIpcClient.h"
#include "toi/TNameServiceCaller.h"

namespace {

using bench::PrintSpread;
using bench::Spread;
using bench::TClock;
using infoservice::TInfoClient;

constexpr int kRounds = 5;
constexpr int kThreads = 4;
// A call is this many times slower than a cached read, roughly; calls per round are fewer by
// it so that both sides of a round take a similar time.
constexpr int kCallsPerRead = 40;
constexpr char kName[] = "bench.cache.value";
constexpr char kStaleName[] = "bench.cache.stale";
// How long a reader waits for one change before counting it as lost.
constexpr std::chrono::seconds kChangeLimit{2};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now().time_since_epoch())
      .count();
}

// Runs body(thread, count) on `threads` threads, count operations each, and returns the
// operations per second of all together.
template <typename TBody>
double PerSecond(int threads, int count, TBody body) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      ++ready;
      while (!go) std::this_thread::yield();
      body(t, count);
    });
  }
  while (ready < threads) std::this_thread::yield();
  const TClock::time_point start = TClock::now();
  go = true;
  for (std::thread& worker : workers) worker.join();
  return threads * static_cast<double>(count) / bench::SecondsSince(start);
}

// The setter: a process of its own with a client of its own. For every byte on `requests` it
// sets kStaleName to "<byte count> <time of the set's start in ns>".
bench::TChildProcess StartSetter(const std::string& address, int requests) {
  return bench::TChildProcess("setter", [address, requests](TUniqueFd output) {
    TUniqueFd input(requests);
    TInfoClient client(address);
    bench::Announce(std::move(output), "ready");
    char byte;
    try {
      for (long count = 1; read(input.Get(), &byte, 1) == 1; ++count) {
        client.Set(kStaleName, std::to_string(count) + " " + std::to_string(NowNs()),
                   TInfoClient::eVolatile);
      }
    } catch (const infoservice::TInfoError& e) {
      throw TException(e.what());
    }
  });
}

struct TFigures {
  std::vector<double> cached[2], uncached[2], raw[2], speedups[2];
};

void MeasureRound(TInfoClient& cached, std::vector<std::unique_ptr<TInfoClient>>& plain,
                  std::vector<std::unique_ptr<TIpcClient>>& rawClients, const std::string& echo,
                  int reads, TFigures& figures) {
  const int calls = std::max(1, reads / kCallsPerRead);
  // Held by the caller, as an application holds the names it reads.
  const std::string name = kName;
  for (int side = 0; side < 2; ++side) {
    const int threads = side == 0 ? 1 : kThreads;
    figures.cached[side].push_back(PerSecond(threads, reads / threads, [&](int, int count) {
      for (int i = 0; i < count; ++i) cached.Get(name);
    }));
    figures.uncached[side].push_back(PerSecond(threads, calls / threads, [&](int t, int count) {
      for (int i = 0; i < count; ++i) plain[t]->Get(name);
    }));
    figures.raw[side].push_back(PerSecond(threads, calls / threads, [&](int t, int count) {
      TNameServiceCaller caller(rawClients[t].get(), echo);
      std::string answer;
      for (int i = 0; i < count; ++i) caller.LookupObject("bench", answer);
    }));
    figures.speedups[side].push_back(figures.cached[side].back() / figures.uncached[side].back());
  }
}

// Microseconds from each set's start until the cached reader saw it, in order of size.
std::vector<double> MeasureStaleness(TInfoClient& reader, int requests, int changes, int& lost) {
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(changes));
  for (int change = 1; change <= changes; ++change) {
    const char byte = 1;
    if (write(requests, &byte, 1) != 1) throw TException(ErrnoMessage("setter pipe", errno));
    const TClock::time_point limit = TClock::now() + kChangeLimit;
    bool seen = false;
    while (!seen && TClock::now() < limit) {
      std::string value;
      try {
        value = reader.Get(kStaleName);
      } catch (const infoservice::TInfoError&) {
      }
      const size_t space = value.find(' ');
      if (space != std::string::npos && std::atol(value.c_str()) == change) {
        latencies.push_back((NowNs() - std::atoll(value.c_str() + space + 1)) / 1e3);
        seen = true;
      } else {
        // Gives the setter, the daemon and the client's thread the CPU they need.
        sched_yield();
      }
    }
    if (!seen) ++lost;
  }
  std::sort(latencies.begin(), latencies.end());
  return latencies;
}

double Percentile(const std::vector<double>& sorted, double fraction) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(fraction * sorted.size()))];
}

int Usage(const char* program) {
  fprintf(stderr, "Usage: %s [--unpinned] [-n READS] [-s CHANGES]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int reads = 2000000;
  int changes = 10000;
  bool pinned = true;
  const option options[] = {{"unpinned", no_argument, nullptr, 'u'}, {nullptr, 0, nullptr, 0}};
  for (int option; (option = getopt_long(argc, argv, "n:s:h", options, nullptr)) != -1;) {
    switch (option) {
      case 'n':
        reads = atoi(optarg);
        break;
      case 's':
        changes = atoi(optarg);
        break;
      case 'u':
        pinned = false;
        break;
      default:
        return Usage(argv[0]);
    }
  }
  if (reads < kThreads * kCallsPerRead || changes <= 0 || optind != argc) return Usage(argv[0]);
  try {
    // Placed first: the processes and threads started from here inherit the placement.
    bench::TPlacement placement(pinned);
    placement.Place(getpid(), "cache-bench");
    // Children are forked before any thread exists.
    const bench::TChildProcess echo = bench::StartEchoServer();
    if (echo.GetAnnouncement().empty()) throw TException("the echo server did not start");
    bench::TOwnDaemon daemon;
    int ends[2];
    if (pipe(ends) != 0) throw TException(ErrnoMessage("pipe", errno));
    TUniqueFd requests(ends[1]);
    const bench::TChildProcess setter = StartSetter(daemon.GetAddress(), ends[0]);
    close(ends[0]);
    if (setter.GetAnnouncement() != "ready") throw TException("the setter did not start");
    placement.Place(daemon.GetPid(), "daemon");
    placement.Place(echo.GetPid(), "echo server");
    placement.Place(setter.GetPid(), "setter");

    TInfoClient cached(daemon.GetAddress());
    cached.Cache("bench.cache.*");
    std::vector<std::unique_ptr<TInfoClient>> plain;
    std::vector<std::unique_ptr<TIpcClient>> rawClients;
    for (int t = 0; t < kThreads; ++t) {
      plain.push_back(std::make_unique<TInfoClient>(daemon.GetAddress()));
      rawClients.push_back(std::make_unique<TIpcClient>());
      TCIpcClient_Init(rawClients.back().get());
    }
    plain[0]->Set(kName, "a value of a typical length", TInfoClient::eVolatile);
    plain[0]->Set(kStaleName, "0 0", TInfoClient::eVolatile);
    cached.Get(kName);
    cached.Get(kStaleName);
    placement.Place(getpid(), "cache-bench");  // now with the client's thread

    TFigures figures;
    for (int round = 0; round < kRounds; ++round) {
      MeasureRound(cached, plain, rawClients, echo.GetAnnouncement(), reads, figures);
    }
    int lost = 0;
    const std::vector<double> staleness = MeasureStaleness(cached, requests.Get(), changes, lost);
    placement.Print();
    printf("%d rounds; %d cached reads and %d calls per figure and round\n", kRounds, reads,
           reads / kCallsPerRead);
    const char* const threadLabels[2] = {"1 thread", "4 threads"};
    for (int side = 0; side < 2; ++side) {
      const std::string suffix = std::string(", ") + threadLabels[side];
      PrintSpread(("cached-get" + suffix).c_str(), Spread(figures.cached[side]), "reads/s");
      PrintSpread(("uncached-get" + suffix).c_str(), Spread(figures.uncached[side]), "reads/s");
      PrintSpread(("raw round trip" + suffix).c_str(), Spread(figures.raw[side]), "calls/s");
    }
    printf("staleness over %zu changes: p50 %.0f us  p99 %.0f us  max %.0f us", staleness.size(),
           Percentile(staleness, 0.5), Percentile(staleness, 0.99),
           staleness.empty() ? 0.0 : staleness.back());
    printf(lost != 0 ? "  (%d changes not seen within 2 s)\n" : "\n", lost);
    PrintSpread("cache-speedup, 4 threads", Spread(figures.speedups[1]), "");
    PrintSpread("cache-speedup, 1 thread", Spread(figures.speedups[0]), "");
    printf("cached-get: %.0f reads/s\n", Spread(figures.cached[0]).median);
    printf("uncached-get: %.0f reads/s\n", Spread(figures.uncached[0]).median);
    printf("staleness-p50: %.0f us\n", Percentile(staleness, 0.5));
    printf("staleness-p99: %.0f us\n", Percentile(staleness, 0.99));
    printf("cache-speedup: %.1f\n", Spread(figures.speedups[0]).median);
  } catch (const TException& e) {
    fprintf(stderr, "cache-bench: %s\n", e.GetText());
    return 1;
  } catch (const infoservice::TInfoError& e) {
    fprintf(stderr, "cache-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
