#include "os/IClock.h"

namespace {

class TSystemClock final : public IClock {
 public:
  int64_t MonotonicMs() const override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }
  time_t WallSeconds() const override { return time(nullptr); }
};

}  // namespace

IClock& IClock::System() {
  static TSystemClock clock;
  return clock;
}
