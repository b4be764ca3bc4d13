// memory-bench: what the daemon's memory grows by with a box's worth of objects.
//
//   memory-bench [--unpinned]
//
// Starts its own daemon twice in a temporary root. First idle (defaults only), then with a
// settings file of 5,000 permanent objects, 5,000 volatile objects set over the IPC and 10
// subscribers (each its own IPC server, subscribed to both families, so that every volatile
// set is notified to all ten). Every value is 100 bytes. After each start it waits until the
// daemon is quiet and prints its resident set and data segment from /proc/PID/status and, where
// the kernel reports one, its heap from /proc/PID/smaps:
//   rss-idle: N KiB
//   rss-10000-objects: N KiB
//   rss-above-idle: N KiB (goal: at most 4096)
// Under qemu-user (a cross build run through binfmt_misc) the figures are those of the
// emulator's process: the emulator's own share is the same in both runs, so the difference is
// the daemon's.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "bench/BenchSupport.h"
#include "bench/DaemonSupport.h"
#include "ipc/TIpcClient.h"
#include "toi/TInformationServiceCaller.h"

namespace {

constexpr int kPermanentObjects = 5000;
constexpr int kVolatileObjects = 5000;
constexpr int kSubscribers = 10;
constexpr size_t kValueSize = 100;
constexpr int kBatch = 100;
constexpr long kGoalKiB = 4096;

std::string Value(const char* family, int i) {
  std::string value = std::string(family) + std::to_string(i) + ":";
  value.resize(kValueSize, 'x');
  return value;
}

// One field of /proc/PID/status in KiB; -1 when missing.
long StatusKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::atol(line.c_str() + length + 1);
    }
  }
  return -1;
}

// The resident size of the [heap] mapping in KiB; -1 when there is none (under qemu-user the
// guest's heap is part of the emulator's own mappings).
long HeapKiB(pid_t pid) {
  std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
  std::string line;
  bool inHeap = false;
  while (std::getline(smaps, line)) {
    if (line.find(" [heap]") != std::string::npos) {
      inHeap = true;
    } else if (inHeap && line.compare(0, 4, "Rss:") == 0) {
      return std::atol(line.c_str() + 4);
    } else if (!line.empty() && line.find(':') == std::string::npos) {
      inHeap = false;  // the next mapping's header line
    }
  }
  return -1;
}

// Waits until the daemon's resident size has not changed for half a second (at most 10 s).
long SettledRss(pid_t pid) {
  long last = StatusKiB(pid, "VmRSS");
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long now = StatusKiB(pid, "VmRSS");
    if (now == last && i >= 5) break;
    last = now;
  }
  return last;
}

void Report(const char* label, pid_t pid, long rss) {
  std::printf("%s: %ld KiB (data %ld KiB, heap %ld KiB)\n", label, rss, StatusKiB(pid, "VmData"),
              HeapKiB(pid));
}

void WriteSettings(const std::string& root) {
  std::ofstream out(root + "/settings.xml");
  out << "<?xml version=\"1.0\"?>\n<settingslist>\n";
  for (int i = 0; i < kPermanentObjects; ++i) {
    out << "<setting><name>cfg.mem.p" << i << "</name><value>" << Value("p", i)
        << "</value></setting>\n";
  }
  out << "</settingslist>\n";
}

int Run(bool pinned) {
  bench::TPlacement placement(pinned);
  placement.Place(getpid(), "memory-bench");

  long idle = 0;
  {
    bench::TOwnDaemon daemon;
    placement.Place(daemon.GetPid(), "idle daemon");
    idle = SettledRss(daemon.GetPid());
    Report("rss-idle", daemon.GetPid(), idle);
  }

  bench::TOwnDaemon daemon({"-f", "{root}/settings.xml"}, WriteSettings);
  placement.Place(daemon.GetPid(), "loaded daemon");
  TIpcClient client;
  TInformationServiceCaller service(&client, daemon.GetAddress());

  std::vector<std::unique_ptr<bench::TCountingObserver>> observers;
  std::vector<std::unique_ptr<bench::TObserverServer>> servers;
  for (int i = 0; i < kSubscribers; ++i) {
    observers.push_back(std::make_unique<bench::TCountingObserver>());
    servers.push_back(std::make_unique<bench::TObserverServer>(*observers.back()));
    service.SubscribeObjects2({"cfg.mem.*", "var.mem.*"}, 0, servers.back()->GetAddress(), false);
  }
  for (int first = 0; first < kVolatileObjects; first += kBatch) {
    TStringList names;
    TStringList values;
    for (int i = first; i < first + kBatch; ++i) {
      names.push_back("var.mem.v" + std::to_string(i));
      values.push_back(Value("v", i));
    }
    service.SetObjects(names, values,
                       std::vector<IToiInformationService::TStorageType>(
                           names.size(), IToiInformationService::eVolatile));
  }
  for (const auto& observer : observers) {
    bench::WaitForCount(*observer, kVolatileObjects, std::chrono::seconds(30));
  }
  std::string probe;
  service.GetObject("cfg.mem.p" + std::to_string(kPermanentObjects - 1), probe);
  if (probe != Value("p", kPermanentObjects - 1)) {
    std::fprintf(stderr, "memory-bench: the settings file was not loaded\n");
    return 1;
  }
  const long loaded = SettledRss(daemon.GetPid());
  placement.Print();
  Report("rss-10000-objects", daemon.GetPid(), loaded);
  std::printf("rss-above-idle: %ld KiB (goal: at most %ld)\n", loaded - idle, kGoalKiB);
  for (const auto& server : servers) {
    try {
      service.UnsubscribeAllObjects(server->GetAddress());
    } catch (const TException&) {
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool pinned = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--unpinned") == 0) {
      pinned = false;
    } else {
      std::fprintf(stderr, "usage: %s [--unpinned]\n", argv[0]);
      return 2;
    }
  }
  try {
    return Run(pinned);
  } catch (const TException& error) {
    std::fprintf(stderr, "memory-bench: %s\n", error.GetText());
    return 1;
  }
}
