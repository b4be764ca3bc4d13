// The time the tracker's rate limit reads. The operating-system layer's clock (os/IClock.h,
// the event loop's clock) is one; the tracker sits below that layer, so it knows only this
// much of it, and start-up hands it the loop's clock.
#pragma once

#include <cstdint>

class IMonotonicClock {
 public:
  virtual ~IMonotonicClock() = default;
  // Milliseconds on a monotonic clock: only differences mean anything.
  virtual int64_t MonotonicMs() const = 0;

 protected:
  IMonotonicClock() = default;
  IMonotonicClock(const IMonotonicClock&) = delete;
  IMonotonicClock& operator=(const IMonotonicClock&) = delete;
};
