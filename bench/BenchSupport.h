// What the benchmark programs share: timing, min / median / max over rounds, where their
// processes run, and processes of their own that announce themselves on a pipe.
//
// Placement matters more than anything measured here on a small virtual machine: a wake-up
// that crosses CPUs costs about as much as a whole round trip on one CPU, so a round trip
// whose two ends the scheduler happens to put on one CPU in one run and on two in the next
// moves by a factor of three. A benchmark that compares our path with a raw baseline
// therefore gives both sides the same placement: every process and thread involved on one
// CPU (the default), or all of them on every CPU they may use (--unpinned).
#pragma once

#include <dirent.h>
#include <sched.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/TException.h"
#include "os/TUniqueFd.h"
#include "os/WriteAll.h"

namespace bench {

using TClock = std::chrono::steady_clock;

inline double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// Runs operation(i) for i in [0, count) and returns the seconds per operation.
template <typename TOperation>
double SecondsPer(int count, TOperation&& operation) {
  const TClock::time_point start = TClock::now();
  for (int i = 0; i < count; ++i) operation(i);
  return SecondsSince(start) / count;
}

struct TSpread {
  double min;
  double median;
  double max;
};

// The spread of one figure over its rounds; `values` is not empty.
inline TSpread Spread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

// One line per figure, so that runs can be compared with diff: label, min, median, max, unit.
inline void PrintSpread(const char* label, const TSpread& spread, const char* unit) {
  std::printf("%-40s min %10.2f  median %10.2f  max %10.2f%s%s\n", label, spread.min, spread.median,
              spread.max, *unit != '\0' ? "  " : "", unit);
}

// Where the benchmark's processes run: all on one CPU (the first this process may use), or
// on every CPU it may use. Other processes inherit the placement of the one that forks them,
// so the benchmark places itself first; it places each process it starts again by pid (with
// every thread that process has by then) so that the report states what was applied.
class TPlacement final {
 public:
  explicit TPlacement(bool pinned) : pinned_(pinned) {
    CPU_ZERO(&allowed_);
    if (sched_getaffinity(0, sizeof allowed_, &allowed_) != 0) {
      throw TException(ErrnoMessage("sched_getaffinity", errno));
    }
    mask_ = allowed_;
    if (pinned_) {
      CPU_ZERO(&mask_);
      CPU_SET(FirstCpu(), &mask_);
    }
  }

  // Gives every thread of process `pid` this placement.
  void Place(pid_t pid, const std::string& name) { Apply(pid, name, mask_, ""); }
  // Leaves process `pid` on every allowed CPU, whatever the placement, like a process
  // that was not started here.
  void Free(pid_t pid, const std::string& name) {
    Apply(pid, name, allowed_, pinned_ ? " (left to the scheduler)" : "");
  }
  // A line for the report about something this benchmark cannot place.
  void Note(std::string text) { notes_.push_back(std::move(text)); }

  void Print() const {
    const std::string cpus = CpuList(allowed_);
    if (CPU_COUNT(&allowed_) == 1) {
      std::printf("placement: only CPU %s is allowed, so pinned and unpinned coincide\n",
                  cpus.c_str());
    } else if (pinned_) {
      std::printf("placement: pinned to CPU %d (allowed CPUs %s)\n", FirstCpu(), cpus.c_str());
    } else {
      std::printf("placement: unpinned, on CPUs %s\n", cpus.c_str());
    }
    for (const TPlaced& placed : placed_) {
      std::printf("  %-24s pid %-8d %3d thread%s on CPUs %s%s\n", placed.name.c_str(),
                  static_cast<int>(placed.pid), placed.threads, placed.threads == 1 ? "" : "s",
                  placed.cpus.c_str(), placed.remark.c_str());
    }
    for (const std::string& note : notes_) std::printf("  %s\n", note.c_str());
  }

 private:
  struct TPlaced {
    pid_t pid;
    std::string name;
    int threads;
    std::string cpus;
    std::string remark;
  };

  int FirstCpu() const {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &allowed_)) return cpu;
    }
    return 0;  // sched_getaffinity never returns an empty set
  }

  static std::string CpuList(const cpu_set_t& set) {
    std::string list;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &set)) continue;
      if (!list.empty()) list += ',';
      list += std::to_string(cpu);
    }
    return list;
  }

  // sched_setaffinity acts on one thread, so each thread listed in /proc/PID/task gets the
  // mask; threads started later inherit it from theirs.
  void Apply(pid_t pid, const std::string& name, const cpu_set_t& mask, const char* remark) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* directory = opendir(tasks.c_str());
    if (directory == nullptr) throw TException(ErrnoMessage(tasks, errno));
    int threads = 0;
    constexpr int kMaxEntries = 100000;
    dirent* entry;
    for (int i = 0; i < kMaxEntries && (entry = readdir(directory)) != nullptr; ++i) {
      if (entry->d_name[0] == '.') continue;
      const pid_t thread = static_cast<pid_t>(std::atoi(entry->d_name));
      // A thread that ended in between is no longer involved.
      if (sched_setaffinity(thread, sizeof mask, &mask) == 0) {
        ++threads;
      } else if (errno != ESRCH) {
        const int error = errno;
        closedir(directory);
        throw TException(ErrnoMessage("sched_setaffinity " + name, error));
      }
    }
    closedir(directory);
    cpu_set_t applied;
    CPU_ZERO(&applied);
    if (sched_getaffinity(pid, sizeof applied, &applied) != 0) {
      throw TException(ErrnoMessage("sched_getaffinity " + name, errno));
    }
    TPlaced placed{pid, name, threads, CpuList(applied), remark};
    const auto same = std::find_if(placed_.begin(), placed_.end(),
                                   [pid](const TPlaced& other) { return other.pid == pid; });
    if (same != placed_.end()) {
      *same = std::move(placed);
    } else {
      placed_.push_back(std::move(placed));
    }
  }

  bool pinned_;
  cpu_set_t allowed_;
  cpu_set_t mask_;
  std::vector<TPlaced> placed_;
  std::vector<std::string> notes_;
};

// Writes the whole text (an address) to the announcement pipe of a child and closes it, which
// releases the parent waiting in TChildProcess's constructor.
inline void Announce(TUniqueFd output, const std::string& text) {
  if (!WriteAll(output.Get(), text.data(), text.size())) {
    throw TException(ErrnoMessage("announce", errno));
  }
}

namespace detail {
inline void* gTerminable = nullptr;
inline void (*gTerminate)(void*) = nullptr;
}  // namespace detail

// Runs `server` (anything with Run() and an async-signal-safe Stop()) until SIGTERM.
template <typename TRunnable>
void RunUntilTerminated(TRunnable& server) {
  detail::gTerminable = &server;
  detail::gTerminate = [](void* target) { static_cast<TRunnable*>(target)->Stop(); };
  signal(SIGTERM, [](int) {
    if (detail::gTerminate != nullptr) detail::gTerminate(detail::gTerminable);
  });
  server.Run();
  signal(SIGTERM, SIG_DFL);
  detail::gTerminate = nullptr;
}

// A process of the benchmark's own: the child runs body(TUniqueFd output), which announces
// itself with Announce(output, ...) and then serves until SIGTERM. The constructor returns
// once the child announced itself (or ended); the destructor sends SIGTERM and reaps it.
// Fork these before starting threads: the child runs `body` as the only thread.
class TChildProcess final {
 public:
  template <typename TBody>
  TChildProcess(const std::string& name, TBody&& body) {
    int ends[2];
    if (pipe(ends) != 0) throw TException(ErrnoMessage("pipe", errno));
    TUniqueFd input(ends[0]);
    TUniqueFd output(ends[1]);
    pid_ = fork();
    if (pid_ < 0) throw TException(ErrnoMessage("fork", errno));
    if (pid_ == 0) {
      input.Reset();
      try {
        body(std::move(output));
      } catch (const TException& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.GetText());
        _exit(1);
      }
      _exit(0);
    }
    output.Reset();
    char buffer[512];
    constexpr int kMaxReads = 64;  // an address fits in far fewer
    for (int i = 0; i < kMaxReads; ++i) {
      const ssize_t length = read(input.Get(), buffer, sizeof buffer);
      if (length < 0 && errno == EINTR) continue;
      if (length <= 0) break;
      announcement_.append(buffer, static_cast<size_t>(length));
    }
  }
  ~TChildProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  pid_t GetPid() const { return pid_; }
  const std::string& GetAnnouncement() const { return announcement_; }

 private:
  pid_t pid_ = -1;
  std::string announcement_;
};

}  // namespace bench
