#include <gtest/gtest.h>

#include <string>

#include "base/IMonotonicClock.h"
#include "tests/TestSupport.h"

namespace {

struct TTestClock final : IMonotonicClock {
  int64_t MonotonicMs() const override { return now; }
  int64_t now = 5000;
};

// The rate limit on a clock the test moves: burst, then one line per interval; the count of the
// dropped is written (and costs a line of the budget), Fatal is never limited.
TEST(TraceRateLimitTest, BurstSteadyRateSuppressedCountAndFatal) {
  TTestClock clock;
  test::TRecordingTracker tracker;
  tracker.LimitRate(&clock);
  auto flood = [&](int count, int64_t stepMs, void (TTracker::*write)(const char*, ...)) {
    size_t written = 0;
    for (int i = 0; i < count; ++i, clock.now += stepMs) {
      const size_t before = tracker.messages.size();
      (tracker.*write)("flood %d", i);
      written += tracker.messages.size() != before && tracker.messages.back().second[0] == 'f';
    }
    return written;
  };
  EXPECT_EQ(size_t{TTracker::kBurst}, flood(100, 0, &TTracker::Error));
  clock.now += TTracker::kIntervalMs;  // too little for the count and the message
  EXPECT_EQ(0u, flood(1, 0, &TTracker::Error));
  clock.now += TTracker::kIntervalMs;
  EXPECT_EQ(1u, flood(1, 0, &TTracker::Error));
  EXPECT_TRUE(tracker.Holds(TTracker::kError, "TTracker: 91 messages suppressed: flood %d"));
  // Steady: a message every 10 ms for 20 s gives a line a second, half of them counts.
  EXPECT_EQ(10u, flood(2001, 10, &TTracker::Error));
  EXPECT_EQ(200u, flood(200, 0, &TTracker::Fatal));
}

}  // namespace
