// Settings storage figures: the time to load and to write a settings file of 10,000 objects,
// and what 1,000 sets spread over one day cost the flash with the default write delay (10 s)
// and limit (10 per 24 hours). The day runs on a simulated clock; only the file writes are
// real. Usage: storage-bench [directory] (default: a fresh directory under /tmp).
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "adapters/TFlashFsAdapter.h"
#include "bench/BenchSupport.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"

namespace {

class TSimulatedClock final : public IClock {
 public:
  int64_t MonotonicMs() const override { return nowMs_; }
  time_t WallSeconds() const override { return static_cast<time_t>(kEpoch + nowMs_ / 1000); }
  int64_t nowMs_ = 0;
  static constexpr int64_t kEpoch = 1800000000;
};

// Holds the adapter's write timer and fires it when the simulated time passes its due time,
// calling afterFire after each expiry.
class TSimulatedLoop final : public IIOEventLoop {
 public:
  explicit TSimulatedLoop(const TSimulatedClock& clock) : clock_(clock) {}
  std::function<void()> afterFire;
  void RegisterFileDescriptor(int, unsigned int, int, IIOEventHandler*) override {}
  void UnregisterFileDescriptor(int) override {}
  int AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) override {
    timers_[next_] = {clock_.nowMs_ + milliseconds, handler};
    return next_++;
  }
  int AddOneShotTimeout(uint64_t milliseconds, IIOTimeoutHandler* handler) override {
    return AddTimeout(static_cast<unsigned int>(milliseconds), handler);
  }
  void RemoveTimeout(int identifier) override { timers_.erase(identifier); }
  // Fires every timer due at or before the given time, moving the clock to each.
  void RunUntil(TSimulatedClock& clock, int64_t untilMs) {
    while (!timers_.empty() && timers_.begin()->second.first <= untilMs) {
      const auto timer = *timers_.begin();
      clock.nowMs_ = timer.second.first;
      timers_.erase(timer.first);  // the adapters' timers are one-shot
      timer.second.second->HandleTimeout(timer.first);
      if (afterFire) afterFire();
    }
    clock.nowMs_ = untilMs;
  }

 private:
  const TSimulatedClock& clock_;
  std::map<int, std::pair<int64_t, IIOTimeoutHandler*>> timers_;
  int next_ = 0;
};

off_t FileSize(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_size : 0;
}

template <typename F>
double TimeMs(F&& work) {
  return 1e3 * bench::SecondsPer(1, [&](int) { work(); });
}

void LoadAndWrite(const std::string& directory) {
  const std::string settings = directory + "/large.xml";
  TSimulatedClock clock;
  TSimulatedLoop loop(clock);
  {
    TFlashFsAdapter adapter(settings, "", 10, 10, nullptr, nullptr, &loop, clock);
    adapter.InitializeObjects();
    for (int i = 0; i < 10000; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "cfg.bench.group%02d.setting%05d", i % 50, i);
      adapter.SetObject(name, "value <" + std::to_string(i * 7919) + "> & more text");
    }
    adapter.WriteToFile(settings);
  }
  std::printf("settings file of 10,000 objects: %lld bytes\n",
              static_cast<long long>(FileSize(settings)));
  constexpr int kRuns = 15;
  std::vector<double> load;
  std::vector<double> write;
  for (int run = 0; run < kRuns; ++run) {
    TFlashFsAdapter adapter(settings, "", 10, 10, nullptr, nullptr, &loop, clock);
    load.push_back(TimeMs([&] { adapter.InitializeObjects(); }));
    write.push_back(TimeMs([&] { adapter.WriteToFile(settings); }));
  }
  std::printf("%d runs\n", kRuns);
  bench::PrintSpread("load (map, parse, fill the map)", bench::Spread(load), "ms");
  bench::PrintSpread("write (format, temp file, fsync, rename)", bench::Spread(write), "ms");
}

void OneDayOfSets(const std::string& directory) {
  const std::string settings = directory + "/day.xml";
  TSimulatedClock clock;
  TSimulatedLoop loop(clock);
  // A store of 200 settings already on flash, then 1,000 changes to them spread evenly over
  // 24 hours.
  {
    std::string text = "<settingslist>";
    for (int i = 0; i < 200; ++i) {
      text += "<setting><name>cfg.day." + std::to_string(i) + "</name><value>initial</value>" +
              "</setting>";
    }
    text += "</settingslist>";
    std::FILE* file = std::fopen(settings.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }
  TFlashFsAdapter day(settings, "", 10, 10, nullptr, nullptr, &loop, clock);
  day.InitializeObjects();

  const int64_t dayEnd = clock.nowMs_ + 86400000;
  int writesInDay = 0;
  int writes = 0;
  long long bytesInDay = 0;
  long long bytes = 0;
  loop.afterFire = [&] {
    ++writes;
    bytes += FileSize(settings);
    if (clock.nowMs_ < dayEnd) {
      ++writesInDay;
      bytesInDay += FileSize(settings);
    }
  };
  const int64_t dayStart = clock.nowMs_;
  for (int i = 0; i < 1000; ++i) {
    loop.RunUntil(clock, dayStart + static_cast<int64_t>(i) * 86400000 / 1000);
    day.SetObject("cfg.day." + std::to_string(i % 200), "change " + std::to_string(i));
  }
  loop.RunUntil(clock, dayEnd + 2 * 86400000);  // the write deferred past the day's end
  std::printf(
      "1,000 sets over 24 h (delay 10 s, limit 10): %d file writes, %lld bytes within the 24 h;"
      " then %d deferred write(s) after the period's end, %lld bytes in all\n",
      writesInDay, bytesInDay, writes - writesInDay, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  std::string directory;
  if (argc > 1) {
    directory = argv[1];
  } else {
    char pattern[] = "/tmp/storage-bench-XXXXXX";
    directory = ::mkdtemp(pattern);
  }
  LoadAndWrite(directory);
  OneDayOfSets(directory);
  if (argc <= 1) std::system(("rm -rf '" + directory + "'").c_str());
  return 0;
}
