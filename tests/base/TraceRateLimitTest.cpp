// The tracker's rate limit on a clock the test moves: the burst, the steady rate, the line
// that counts what was dropped, budgets per format, and Fatal never limited.
#include <gtest/gtest.h>

#include <string>

#include "base/IMonotonicClock.h"
#include "tests/TestSupport.h"

namespace {

class TTestClock final : public IMonotonicClock {
 public:
  int64_t MonotonicMs() const override { return now; }
  int64_t now = 5000;
};

class TraceRateLimitTest : public ::testing::Test {
 protected:
  TraceRateLimitTest() { tracker_.LimitRate(&clock_); }

  // Writes `count` messages of the one format, `stepMs` apart; returns how many were written
  // (suppressed-count lines not included).
  size_t Flood(int count, int64_t stepMs,
               void (TTracker::*write)(const char*, ...) = &TTracker::Error) {
    const size_t before = Written();
    for (int i = 0; i < count; ++i, clock_.now += stepMs) (tracker_.*write)("flood %d", i);
    return Written() - before;
  }
  size_t Written() const {
    size_t count = 0;
    for (const auto& message : tracker_.messages) count += message.second.rfind("flood", 0) == 0;
    return count;
  }

  TTestClock clock_;
  test::TRecordingTracker tracker_;
};

TEST_F(TraceRateLimitTest, BurstThenOneLinePerIntervalCountingTheDropped) {
  EXPECT_EQ(size_t{TTracker::kBurst}, Flood(100, 0));
  // The count of the dropped is a line of the budget too: one interval earns too little.
  clock_.now += TTracker::kIntervalMs;
  EXPECT_EQ(0u, Flood(1, 0));
  clock_.now += TTracker::kIntervalMs;
  EXPECT_EQ(1u, Flood(1, 0));
  ASSERT_EQ(size_t{TTracker::kBurst} + 2, tracker_.messages.size());
  EXPECT_EQ(
      std::make_pair(TTracker::kError, std::string("TTracker: 91 messages suppressed: flood %d")),
      tracker_.messages[TTracker::kBurst]);
  EXPECT_EQ("flood 0", tracker_.messages.back().second);
  // Steady: a message every 10 ms for 20 s more gives a line a second.
  const size_t lines = tracker_.messages.size();
  EXPECT_EQ(10u, Flood(2001, 10));
  EXPECT_EQ(20u, tracker_.messages.size() - lines);
  // Idle for long enough, the whole burst is back.
  clock_.now += TTracker::kBurst * TTracker::kIntervalMs;
  EXPECT_EQ(size_t{TTracker::kBurst}, Flood(50, 0));
}

TEST_F(TraceRateLimitTest, EachFormatHasItsOwnBudgetAndFatalIsNeverLimited) {
  Flood(50, 0);
  tracker_.Warning("other %s", "format");
  EXPECT_TRUE(tracker_.Holds(TTracker::kWarning, "other format"));
  EXPECT_EQ(200u, Flood(200, 0, &TTracker::Fatal));
  // Messages below the level use up nothing.
  tracker_.SetLevel(TTracker::kWarning);
  for (int i = 0; i < 50; ++i) tracker_.Trace("hidden %d", i);
  tracker_.SetLevel(6);
  tracker_.Trace("hidden %d", 50);
  EXPECT_TRUE(tracker_.Holds(TTracker::kTrace, "hidden 50"));
}

TEST_F(TraceRateLimitTest, WithoutAClockEveryMessageIsWritten) {
  tracker_.LimitRate(nullptr);
  EXPECT_EQ(100u, Flood(100, 0));
}

}  // namespace
