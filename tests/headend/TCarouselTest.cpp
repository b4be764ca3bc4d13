#include <gtest/gtest.h>
#include <stdio.h>

#include "headend/TCarousel.h"
#include "headend/TFileChangeWatcher.h"
#include "infocast/TInfocastHeader.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"
#include "tests/TestSupport.h"

namespace {

class TCarouselTest : public ::testing::Test {
 protected:
  TCarouselTest() : loop_(clock_), receiver_("127.0.0.1", 0) {}
  TCarouselPlan Plan(uint64_t rate, std::vector<std::pair<std::string, size_t>> objects) {
    TCarouselPlan plan;
    plan.channels.push_back({"127.0.0.1", receiver_.GetPort(), rate, {}});
    for (const auto& [name, size] : objects)
      plan.channels[0].objects.push_back({name, 1, 4, false, 0, 0, "", std::string(size, 'x'), ""});
    return plan;
  }
  // Moves the manual clock in 10 ms steps; returns the bytes received by the end of each.
  std::vector<size_t> Run(int steps) {
    std::vector<size_t> total;
    for (int i = 0; i < steps; ++i) {
      clock_.Advance(10);
      loop_.RunOnce(0);
      char buffer[2000];
      size_t bytes = total.empty() ? 0 : total.back();
      for (ssize_t n; (n = receiver_.Receive(buffer, sizeof buffer)) > 0; bytes += n) {
        received_.emplace_back();
        received_.back().Decode(buffer, static_cast<size_t>(n));
      }
      total.push_back(bytes);
    }
    return total;
  }

  TManualClock clock_;
  TEpollEventLoop loop_;
  TUdpSocket receiver_;
  std::vector<TInfocastHeader> received_;
};

TEST_F(TCarouselTest, PacedChannelKeepsItsRateAndNeverBurstsAboveOneBatch) {
  constexpr double kBytesPerStep = 1000000 / 8 * 0.010;
  TCarousel carousel(loop_, clock_, {0, "", 1400, 8});
  carousel.Apply(Plan(1000000, {{"big", 30000}, {"small", 10}}));
  const std::vector<size_t> total = Run(1000);  // 10 s
  for (size_t step = 0; step < total.size(); ++step)
    ASSERT_LE(total[step], kBytesPerStep * (step + 1) + 8 * 1400) << "at step " << step;
  EXPECT_GE(total.back(), kBytesPerStep * 1000 - 2 * 1400);
}

TEST_F(TCarouselTest, ChangeWaitsForTheNextCycleAndLeavingChannelsStop) {
  TCarousel carousel(loop_, clock_, {0, "", 1400, 2});
  carousel.Apply(Plan(112000, {{"old", 5000}}));  // 4 datagrams, 10 per second
  Run(15);
  ASSERT_EQ(received_.size(), 1u);
  carousel.Apply(Plan(112000, {{"new", 10}}));
  Run(200);
  size_t old = 0;
  while (old < received_.size() && received_[old].GetName() == "old") ++old;
  EXPECT_EQ(old, 4u);  // the cycle in progress ends whole
  for (size_t i = old; i < received_.size(); ++i) EXPECT_EQ(received_[i].GetName(), "new");
  carousel.Apply(TCarouselPlan());  // a channel that leaves the plan stops at once
  EXPECT_EQ(loop_.GetTimeoutCount(), 0u);
}

class TFileChangeWatcherTest : public ::testing::TestWithParam<bool> {};

TEST_P(TFileChangeWatcherTest, SeesWritesRenamesAndRemovalsOfWatchedFilesOnly) {
  test::TTempDir dir;
  TManualClock clock;
  TEpollEventLoop loop(clock);
  TFileChangeWatcher watcher(loop, GetParam());
  auto changed = [&](const char* write, const char* remove, bool changed) {
    if (write) test::WriteFile(dir.File(write), write);
    ASSERT_TRUE(!remove || rename(dir.File(write).c_str(), dir.File(remove).c_str()) == 0);
    clock.Advance(TFileChangeWatcher::kPollMs);  // a poll's worth of time
    loop.RunOnce(0);
    EXPECT_EQ(watcher.TakeChanged(), changed) << (write ? write : "-") << (remove ? remove : "");
  };
  for (const char* name : {"a", "b"}) test::WriteFile(dir.File(name), "");
  watcher.Watch({dir.File("a"), dir.File("b")});
  changed(nullptr, nullptr, false);
  changed("other", nullptr, false);
  changed("b", nullptr, true);
  changed(nullptr, nullptr, false);  // taken once
  changed("a.new", "a", true);       // replaced by rename
  watcher.Watch({dir.File("a")});
  changed("b", nullptr, false);
  changed("other", "a", true);
}

INSTANTIATE_TEST_SUITE_P(InotifyAndPoll, TFileChangeWatcherTest, ::testing::Values(false, true));

}  // namespace
