// The one seam through which the daemon reads time, so that tests of timers and of the
// 24-hour write budget move time instead of sleeping. The tracker reads its monotonic half.
#pragma once

#include <cstdint>
#include <ctime>

#include "base/IMonotonicClock.h"

class IClock : public IMonotonicClock {
 public:
  // Milliseconds on a monotonic clock: only differences mean anything.
  int64_t MonotonicMs() const override = 0;
  // Wall-clock seconds since the epoch, as time(2).
  virtual time_t WallSeconds() const = 0;

  // The real clock, shared process-wide.
  static IClock& System();

 protected:
  IClock() = default;
  IClock(const IClock&) = delete;
  IClock& operator=(const IClock&) = delete;
};
