// A clock that tests move by hand: time stands still until Advance is called, so timers due
// "in 24 hours" fire in a test without sleeping. Not thread-safe: use it on the loop thread.
#pragma once

#include <cstdint>
#include <ctime>

#include "os/IClock.h"

class TManualClock final : public IClock {
 public:
  explicit TManualClock(int64_t monotonicMs = 1000, time_t wallSeconds = 1700000000)
      : monotonicMs_(monotonicMs), wallSeconds_(wallSeconds) {}

  // IClock
  int64_t MonotonicMs() const override { return monotonicMs_; }
  time_t WallSeconds() const override { return wallSeconds_; }

  // Moves both clocks forward; the wall clock by whole seconds elapsed on the monotonic one.
  void Advance(int64_t milliseconds) {
    const int64_t before = monotonicMs_ / 1000;
    monotonicMs_ += milliseconds;
    wallSeconds_ += static_cast<time_t>(monotonicMs_ / 1000 - before);
  }
  // Sets the wall clock alone, as an operator changing the date would.
  void SetWallSeconds(time_t seconds) { wallSeconds_ = seconds; }

 private:
  int64_t monotonicMs_;
  time_t wallSeconds_;
};
