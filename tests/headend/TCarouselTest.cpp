#include <gtest/gtest.h>
#include <stdio.h>

#include "headend/TCarousel.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"

namespace {

// A 1 Mbit/s channel on the manual clock in 10 ms steps: by the end of each step no more than
// the rate allows plus one batch (8 datagrams) has arrived, and over 10 s nearly all of it.
TEST(TCarouselTest, PacedChannelKeepsItsRateAndNeverBurstsAboveOneBatch) {
  constexpr double kBytesPerStep = 1000000 / 8 * 0.010;
  TManualClock clock;
  TEpollEventLoop loop(clock);
  TUdpSocket receiver("127.0.0.1", 0);
  TCarouselPlan plan;
  plan.channels.push_back({"127.0.0.1", receiver.GetPort(), 1000000, {}});
  for (const auto& [name, size] : {std::pair{"big", 30000}, {"small", 10}})
    plan.channels[0].objects.push_back({name, 1, 4, false, 0, 0, "", std::string(size, 'x'), ""});
  TCarousel carousel(loop, clock, {0, "", 1400, 8});
  carousel.Apply(plan);
  size_t bytes = 0;
  char buffer[2000];
  for (int step = 1; step <= 1000; ++step) {
    clock.Advance(10);
    loop.RunOnce(0);
    for (ssize_t n; (n = receiver.Receive(buffer, sizeof buffer)) > 0;) bytes += n;
    ASSERT_LE(bytes, kBytesPerStep * step + 8 * 1400) << "at step " << step;
  }
  EXPECT_GE(bytes, kBytesPerStep * 1000 - 2 * 1400);
}

}  // namespace
