#include "headend/TCarousel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"

namespace {

struct TReceived {
  std::string name;
  uint32_t number;
  uint32_t count;
  size_t length;
};

class TCarouselTest : public ::testing::Test {
 protected:
  TCarouselTest() : loop_(clock_), receiver_("127.0.0.1", 0) {}

  TCarouselChannel Channel(uint64_t rate, std::vector<std::pair<std::string, size_t>> objects) {
    TCarouselChannel channel;
    channel.address = "127.0.0.1";
    channel.port = receiver_.GetPort();
    channel.rateBitsPerSecond = rate;
    for (const auto& [name, size] : objects) {
      TCarouselObject object;
      object.name = name;
      object.data = std::string(size, 'x');
      channel.objects.push_back(object);
    }
    return channel;
  }

  // Moves time in steps, collecting what arrived after each; returns bytes per step.
  std::vector<size_t> Run(int steps, int stepMs) {
    std::vector<size_t> bytes;
    for (int i = 0; i < steps; ++i) {
      clock_.Advance(stepMs);
      loop_.RunOnce(0);
      bytes.push_back(Drain());
    }
    return bytes;
  }

  size_t Drain() {
    size_t bytes = 0;
    char buffer[2000];
    for (ssize_t n; (n = receiver_.Receive(buffer, sizeof buffer)) > 0;) {
      TInfocastHeader header;
      header.Decode(buffer, static_cast<size_t>(n));
      received_.push_back({header.GetName(), header.packetNumber, header.packetCount,
                           static_cast<size_t>(n)});
      bytes += static_cast<size_t>(n);
    }
    return bytes;
  }

  TManualClock clock_;
  TEpollEventLoop loop_;
  TUdpSocket receiver_;
  std::vector<TReceived> received_;
};

TEST_F(TCarouselTest, PacedChannelKeepsItsRateAndNeverBurstsAboveOneBatch) {
  constexpr uint64_t kRate = 1000000;
  constexpr size_t kBatch = 8;
  receiver_.SetReceiveBuffer(1 << 20);
  TCarousel carousel(loop_, clock_, {0, "", 1400, kBatch});
  TCarouselPlan plan;
  plan.channels.push_back(Channel(kRate, {{"big", 30000}, {"small", 10}}));
  carousel.Apply(plan);

  const std::vector<size_t> perStep = Run(1000, 10);  // 10 s of the manual clock
  size_t total = 0;
  for (size_t step = 0; step < perStep.size(); ++step) {
    total += perStep[step];
    const double allowed = kRate / 8.0 * (step + 1) * 0.010 + kBatch * 1400;
    ASSERT_LE(total, allowed) << "at step " << step;
  }
  EXPECT_GE(total, kRate / 8 * 10 - 2 * 1400);
  // Packets of one object back to back, objects in order, cycle after cycle.
  ASSERT_FALSE(received_.empty());
  for (size_t i = 1; i < received_.size(); ++i) {
    const TReceived& before = received_[i - 1];
    const TReceived& now = received_[i];
    if (before.number < before.count) {
      EXPECT_EQ(now.name, before.name);
      EXPECT_EQ(now.number, before.number + 1);
    } else {
      EXPECT_EQ(now.name, before.name == "big" ? "small" : "big");
      EXPECT_EQ(now.number, 1u);
    }
  }
  const auto stats = carousel.GetStats();
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_LE(stats[0].largestBatch, kBatch);
  EXPECT_GT(stats[0].cycles, 30u);
}

TEST_F(TCarouselTest, ChangeWaitsForTheNextCycleAndHookSeesEveryCycleStart) {
  TCarousel carousel(loop_, clock_, {0, "", 1400, 2});
  TCarouselPlan plan;
  plan.channels.push_back(Channel(112000, {{"old", 5000}}));  // 4 datagrams, 10 per second
  carousel.Apply(plan);
  int starts = 0;
  carousel.SetCycleHook([&](const std::string&) { ++starts; });
  Run(15, 10);  // part of the first cycle
  ASSERT_GT(received_.size(), 0u);
  ASSERT_LT(received_.size(), 4u);
  plan.channels[0] = Channel(112000, {{"new", 10}});
  carousel.Apply(plan);
  Run(200, 10);
  size_t first = 0;
  while (first < received_.size() && received_[first].name == "old") ++first;
  EXPECT_EQ(first, 4u);  // the cycle in progress ends whole
  for (size_t i = first; i < received_.size(); ++i) EXPECT_EQ(received_[i].name, "new");
  EXPECT_EQ(static_cast<uint64_t>(starts), carousel.GetStats()[0].cycles);

  plan.channels.clear();  // a channel that leaves the plan stops at once
  carousel.Apply(plan);
  received_.clear();
  Run(50, 10);
  EXPECT_TRUE(received_.empty());
  EXPECT_EQ(loop_.GetTimeoutCount(), 0u);
}

TEST_F(TCarouselTest, UnpacedChannelSendsWheneverTheSocketTakesMore) {
  TCarousel carousel(loop_, clock_, {0, "", 1400, 16});
  TCarouselPlan plan;
  plan.channels.push_back(Channel(0, {{"a", 3000}, {"b", 3000}}));
  carousel.Apply(plan);
  for (int i = 0; i < 20; ++i) {
    loop_.RunOnce(0);  // no time passes: only writability drives it
    Drain();
  }
  EXPECT_GE(carousel.GetStats()[0].cycles, 20u);
  EXPECT_LE(carousel.GetStats()[0].largestBatch, 16u);
}

TEST_F(TCarouselTest, RefusesUnicastBeyondLoopbackWithoutTtl) {
  TCarousel carousel(loop_, clock_, {});
  TCarouselPlan plan;
  plan.channels.push_back(Channel(100000, {{"a", 1}}));
  plan.channels[0].address = "192.0.2.1";
  EXPECT_THROW(carousel.Apply(plan), TException);
  plan.channels[0].address = "239.1.2.3";  // multicast with TTL 0 stays on this machine
  EXPECT_NO_THROW(carousel.Apply(plan));
}

}  // namespace
