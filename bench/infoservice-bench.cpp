// infoservice-bench: load figures of a live daemon, set against the raw IPC round trip.
//
//   infoservice-bench [--unpinned] [-A ADDRESS | -i FILE] [-n COUNT] [--policy FILE]
//
// Without an address it starts its own daemon (standalone host mode, in a temporary root)
// from the build next to it. It measures, COUNT operations each:
//   get                  GetObject round trips of one volatile object
//   set                  SetObject round trips of volatile objects, each a change
//   set-10-subscribers   the same with 10 subscribers (each its own IPC server) notified
//   raw                  the round trip of a call that does nothing, to a server process of
//                        our own
// in five interleaved rounds, and prints the microseconds per operation of each figure as
// min / median / max over the rounds. Then it times a watch subscription with enumeration
// over 10,000 objects until every name arrived, and last the time per get and per notifying
// set as a multiple of the raw round trip of the same round ("get ratio", "set-10-subscribers
// ratio"), again min / median / max.
//
// Every process and thread involved (this one with its subscriber threads, the echo server,
// our own daemon) runs on one CPU, or with --unpinned on every allowed CPU. A daemon given
// with -A or -i cannot be placed: then only this process is, and the echo server is left to
// the scheduler like that daemon.
//
// With --policy FILE it starts a second daemon of its own with that access policy (-p FILE),
// placed like the first, and adds to every round a get and a set on it ("get-policy",
// "set-policy") made on a connection opened as uid 65534 (root and the daemon's user are not
// subject to a policy, so only another user pays for the check); the policy must allow that
// user r and w on bench.get and bench.set. Last come "get policy/none ratio" and "set
// policy/none ratio", per round. This needs root and a daemon of its own.
//
// The objects it sets are volatile and named bench.*; a daemon given with -A or -i keeps them.
#include <fcntl.h>
#include <ftw.h>
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "bench/DaemonSupport.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "toi/IToiInformationObserver.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TNameServiceCaller.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace {

using bench::PrintSpread;
using bench::ReadAll;
using bench::SecondsPer;
using bench::SecondsSince;
using bench::Spread;
using bench::TClock;
using bench::TCountingObserver;
using bench::TObserverServer;
using bench::TOwnDaemon;
using bench::TServerThread;
using bench::WaitForCount;
constexpr int kSubscribers = 10;
constexpr int kEnumeratedObjects = 10000;
constexpr int kRounds = 5;
constexpr int kEnumerationRounds = 3;
constexpr auto kVolatile = IToiInformationService::eVolatile;

// --- the figures -------------------------------------------------------------------------------

// Each Measure* returns microseconds per operation.

double MeasureRaw(TNameServiceCaller& echo, int count) {
  std::string answer;
  return 1e6 * SecondsPer(count, [&](int) { echo.LookupObject("bench", answer); });
}

double MeasureGet(IToiInformationService& service, int count) {
  std::string value;
  return 1e6 * SecondsPer(count, [&](int) { service.GetObject("bench.get", value); });
}

// Values differ from every earlier one, so each set is a change that notifies.
double MeasureSet(IToiInformationService& service, const std::string& name, int count, int round) {
  return 1e6 * SecondsPer(count, [&](int i) {
           service.SetObject(name, std::to_string(round * count + i), kVolatile);
         });
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

// Milliseconds from a watch subscription with enumeration over kEnumeratedObjects objects
// until every name arrived (rounds that lost names are left out and counted), and for the
// subscribe call alone.
void MeasureEnumeration(IToiInformationService& service) {
  TStringList names;
  TStringList values;
  for (int i = 0; i < kEnumeratedObjects; ++i) {
    names.push_back("bench.enum." + std::to_string(i));
    values.push_back("value " + std::to_string(i));
  }
  const std::vector<IToiInformationService::TStorageType> types(names.size(), kVolatile);
  service.SetObjects(names, values, types);
  TCountingObserver observer;
  TObserverServer server(observer);
  std::vector<double> alls;
  std::vector<double> calls;
  for (int round = 0; round < kEnumerationRounds; ++round) {
    const size_t before = observer.GetCount();
    const TClock::time_point start = TClock::now();
    service.SubscribeObject2("bench.enum.*", 0, server.GetAddress(), true);
    calls.push_back(1e3 * SecondsSince(start));
    if (WaitForCount(observer, before + kEnumeratedObjects, std::chrono::seconds(30))) {
      alls.push_back(1e3 * SecondsSince(start));
    }
    service.UnsubscribeAllObjects(server.GetAddress());
  }
  const std::string label = "watch-enumeration-" + std::to_string(kEnumeratedObjects);
  if (!alls.empty()) PrintSpread(label.c_str(), Spread(alls), "ms");
  PrintSpread("  of which the subscribe call", Spread(calls), "ms");
  if (alls.size() < calls.size()) {
    printf("%s: %zu of %zu rounds lost names (%zu of %zu received)\n", label.c_str(),
           calls.size() - alls.size(), calls.size(), observer.GetCount(),
           calls.size() * kEnumeratedObjects);
  }
  service.UnsetObjects(names, types);
}

int Usage(const char* program) {
  fprintf(stderr, "Usage: %s [--unpinned] [-A ADDRESS | -i FILE] [-n COUNT] [--policy FILE]\n",
          program);
  return 2;
}

// The user whose calls the policy decides.
constexpr uid_t kPolicyUser = 65534;

// A daemon with the access policy, and a caller whose connection to it was opened as
// kPolicyUser: the daemon takes the peer's identity from the kernel at connect time, so the
// effective uid is switched for the first call only.
struct TPolicySide {
  TPolicySide(TIpcClient& client, const std::string& policyFile)
      // The other user must reach the socket below the daemon's root (made 0700).
      : daemon({"-p", policyFile}, [](const std::string& root) { chmod(root.c_str(), 0755); }),
        service(&client, daemon.GetAddress()) {
    if (seteuid(kPolicyUser) != 0) throw TException(ErrnoMessage("seteuid", errno));
    try {
      service.SetObject("bench.get", "a value of a typical length", kVolatile);
    } catch (...) {
      if (seteuid(0) != 0) abort();
      throw;
    }
    if (seteuid(0) != 0) abort();
  }
  TOwnDaemon daemon;
  TInformationServiceCaller service;
};

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  std::string address;
  std::string addressFile;
  int count = 20000;
  bool pinned = true;
  std::string policyFile;
  const option options[] = {{"unpinned", no_argument, nullptr, 'u'},
                            {"policy", required_argument, nullptr, 'p'},
                            {nullptr, 0, nullptr, 0}};
  for (int option; (option = getopt_long(argc, argv, "A:i:n:h", options, nullptr)) != -1;) {
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
      case 'u':
        pinned = false;
        break;
      case 'p':
        policyFile = optarg;
        break;
      default:
        return Usage(argv[0]);
    }
  }
  if (count <= 0 || optind != argc) return Usage(argv[0]);
  if (!policyFile.empty() && (!address.empty() || !addressFile.empty() || geteuid() != 0)) {
    fprintf(stderr, "infoservice-bench: --policy needs root and a daemon of its own\n");
    return 2;
  }
  try {
    // This process is placed first: what it starts inherits the placement.
    bench::TPlacement placement(pinned);
    placement.Place(getpid(), "infoservice-bench");
    const bench::TChildProcess echo = bench::StartEchoServer();
    if (echo.GetAnnouncement().empty()) throw TException("the echo server did not start");
    std::unique_ptr<TOwnDaemon> own;
    if (address.empty() && !addressFile.empty()) address = ReadAll(addressFile);
    if (address.empty()) {
      own = std::make_unique<TOwnDaemon>();
      address = own->GetAddress();
      placement.Place(own->GetPid(), "daemon");
      placement.Place(echo.GetPid(), "echo server");
    } else {
      // The raw side gets the placement the daemon has: the scheduler's.
      placement.Free(echo.GetPid(), "echo server");
      placement.Note("the daemon at " + address + " was not started here and cannot be " +
                     (pinned ? "pinned: only this process is pinned" : "placed"));
    }
    TIpcClient client;
    TCIpcClient_Init(&client);
    TInformationServiceCaller service(&client, address);
    TNameServiceCaller raw(&client, echo.GetAnnouncement());
    std::string answer;
    raw.LookupObject("warm-up", answer);
    service.SetObject("bench.get", "a value of a typical length", kVolatile);
    TSubscribers subscribers(service);
    std::unique_ptr<TPolicySide> policy;
    if (!policyFile.empty()) {
      policy = std::make_unique<TPolicySide>(client, policyFile);
      placement.Place(policy->daemon.GetPid(), "daemon with the policy");
    }
    placement.Place(getpid(), "infoservice-bench");  // now with the subscribers' threads
    // The figures are taken in interleaved rounds and each ratio within one round, so that a
    // burst of other load on the machine does not fall on one side only.
    const int perRound = std::max(1, count / kRounds);
    std::vector<double> gets, sets, notifyings, raws, getRatios, notifyingRatios;
    std::vector<double> policyGets, policySets, policyGetRatios, policySetRatios;
    for (int round = 0; round < kRounds; ++round) {
      // The daemon with the policy goes first in every other round, so that neither side
      // always runs on a cache the other warmed.
      const auto measurePolicy = [&] {
        policyGets.push_back(MeasureGet(policy->service, perRound));
        policySets.push_back(MeasureSet(policy->service, "bench.set", perRound, round));
      };
      if (policy && round % 2 == 1) measurePolicy();
      gets.push_back(MeasureGet(service, perRound));
      sets.push_back(MeasureSet(service, "bench.set", perRound, round));
      if (policy && round % 2 == 0) measurePolicy();
      if (policy) {
        policyGetRatios.push_back(policyGets.back() / gets.back());
        policySetRatios.push_back(policySets.back() / sets.back());
      }
      notifyings.push_back(MeasureSet(service, "bench.notify", perRound, round));
      raws.push_back(MeasureRaw(raw, perRound));
      getRatios.push_back(gets.back() / raws.back());
      notifyingRatios.push_back(notifyings.back() / raws.back());
    }
    placement.Print();
    printf("%d rounds of %d operations per figure\n", kRounds, perRound);
    subscribers.CheckDelivered(static_cast<size_t>(perRound) * kRounds);
    PrintSpread("get", Spread(gets), "us");
    PrintSpread("set", Spread(sets), "us");
    if (policy) {
      PrintSpread("get-policy", Spread(policyGets), "us");
      PrintSpread("set-policy", Spread(policySets), "us");
    }
    PrintSpread("set-10-subscribers", Spread(notifyings), "us");
    PrintSpread("raw", Spread(raws), "us");
    MeasureEnumeration(service);
    service.UnsetObjects({"bench.get", "bench.set", "bench.notify"},
                         std::vector<IToiInformationService::TStorageType>(3, kVolatile));
    PrintSpread("get ratio", Spread(getRatios), "");
    PrintSpread("set-10-subscribers ratio", Spread(notifyingRatios), "");
    if (policy) {
      PrintSpread("get policy/none ratio", Spread(policyGetRatios), "");
      PrintSpread("set policy/none ratio", Spread(policySetRatios), "");
    }
    TCIpcClient_CleanUp(&client);
  } catch (const TException& e) {
    fprintf(stderr, "infoservice-bench: %s\n", e.GetText());
    return 1;
  }
  return 0;
}
