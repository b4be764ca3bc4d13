// The one seam through which the daemon reads time, so that tests of timers and of the
// 24-hour write budget move time instead of sleeping.
#pragma once

#include <cstdint>
#include <ctime>

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds on a monotonic clock: only differences mean anything.
  virtual int64_t MonotonicMs() const = 0;
  // Wall-clock seconds since the epoch, as time(2).
  virtual time_t WallSeconds() const = 0;

  // The real clock, shared process-wide.
  static IClock& System();

 protected:
  IClock() = default;
  IClock(const IClock&) = delete;
  IClock& operator=(const IClock&) = delete;
};
