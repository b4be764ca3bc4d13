#include <gtest/gtest.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "base/TException.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUniqueFd.h"

namespace {

class TRecordingTimeout final : public IIOTimeoutHandler {
 public:
  std::function<void(int)> onFire;
  std::vector<int> fired;
  void HandleTimeout(int identifier) override {
    fired.push_back(identifier);
    if (onFire) onFire(identifier);
  }
};

class TRecordingHandler final : public IIOEventHandler {
 public:
  std::function<void(int)> onEvent;
  std::vector<int> events;
  void HandleEvent(int descriptor, unsigned int mask) override {
    events.push_back(descriptor);
    EXPECT_EQ(mask, IIOEventLoop::kReadable);
    uint64_t value = 0;
    ssize_t got = read(descriptor, &value, sizeof value);
    (void)got;
    if (onEvent) onEvent(descriptor);
  }
};

TUniqueFd SignalledEventFd() { return TUniqueFd(eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC)); }

class TEpollEventLoopTest : public ::testing::Test {
 protected:
  TManualClock clock_;
  TEpollEventLoop loop_{clock_};
};

TEST_F(TEpollEventLoopTest, PeriodicTimeoutFiresAtEachPeriodUntilRemoved) {
  TRecordingTimeout handler;
  const int id = loop_.AddTimeout(100, &handler);
  EXPECT_GE(id, 0);
  EXPECT_EQ(loop_.RunOnce(0), 0);
  clock_.Advance(99);
  EXPECT_EQ(loop_.RunOnce(0), 0);
  for (int period = 0; period < 3; ++period) {
    clock_.Advance(period == 0 ? 1 : 100);
    EXPECT_EQ(loop_.RunOnce(0), 1);
  }
  // A late loop fires once, not in a burst.
  clock_.Advance(1000);
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_EQ(loop_.RunOnce(0), 0);
  EXPECT_EQ(handler.fired, (std::vector<int>{id, id, id, id}));
  loop_.RemoveTimeout(id);
  loop_.RemoveTimeout(id);  // twice, and unknown identifiers, are harmless
  loop_.RemoveTimeout(-1);
  EXPECT_NE(loop_.AddTimeout(1, &handler), id) << "identifiers are not reused at once";
  clock_.Advance(1000);
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_EQ(handler.fired.size(), 5u);
}

// A timeout removing itself, or a due timeout removed by an earlier handler of the same pass,
// never fires again.
TEST_F(TEpollEventLoopTest, TimeoutsRemovedInsideHandlersNeverFire) {
  TRecordingTimeout first;
  TRecordingTimeout second;
  const int firstId = loop_.AddTimeout(10, &first);
  const int secondId = loop_.AddTimeout(10, &second);
  // Whichever fires first removes itself and the other.
  first.onFire = [&](int) {
    loop_.RemoveTimeout(firstId);
    loop_.RemoveTimeout(secondId);
  };
  second.onFire = first.onFire;
  for (int i = 0; i < 3; ++i) {
    clock_.Advance(10);
    loop_.RunOnce(0);
  }
  EXPECT_EQ(first.fired.size() + second.fired.size(), 1u);
  EXPECT_EQ(loop_.GetTimeoutCount(), 0u);
}

TEST_F(TEpollEventLoopTest, TimeoutAddedInHandlerWaitsForItsOwnTime) {
  TRecordingTimeout replacement;
  TRecordingTimeout original;
  int replacementId = -1;
  original.onFire = [&](int id) {
    loop_.RemoveTimeout(id);
    replacementId = loop_.AddTimeout(0, &replacement);
  };
  loop_.AddTimeout(1, &original);
  clock_.Advance(1);
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_TRUE(replacement.fired.empty());
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_EQ(replacement.fired, std::vector<int>{replacementId});
}

TEST_F(TEpollEventLoopTest, ReadableDescriptorCallsHandlerUntilUnregisteredUnpollableThrows) {
  TUniqueFd fd = SignalledEventFd();
  TRecordingHandler handler;
  loop_.RegisterFileDescriptor(fd.Get(), IIOEventLoop::kReadable, 0, &handler);
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_EQ(loop_.RunOnce(0), 0);  // drained by the handler
  uint64_t one = 1;
  ASSERT_EQ(write(fd.Get(), &one, sizeof one), 8);
  loop_.UnregisterFileDescriptor(fd.Get());
  EXPECT_EQ(loop_.RunOnce(0), 0);
  EXPECT_EQ(handler.events.size(), 1u);
  loop_.UnregisterFileDescriptor(fd.Get());  // twice is harmless
  EXPECT_THROW(loop_.RegisterFileDescriptor(-1, IIOEventLoop::kReadable, 0, &handler), TException);
  EXPECT_THROW(loop_.RegisterFileDescriptor(12345, IIOEventLoop::kReadable, 0, &handler),
               TException);
  EXPECT_EQ(loop_.GetDescriptorCount(), 0u);
}

// Whichever descriptor is served first moves the other to a new handler: the event already
// collected for it belongs to the old registration and is dropped, and the new registration
// is served from the next pass.
TEST_F(TEpollEventLoopTest, EventCollectedBeforeReRegistrationDoesNotReachNewHandler) {
  TUniqueFd a = SignalledEventFd();
  TUniqueFd b = SignalledEventFd();
  TRecordingHandler first;
  TRecordingHandler second;
  TRecordingHandler replacement;
  auto move = [&](int descriptor) {
    const int other = descriptor == a.Get() ? b.Get() : a.Get();
    loop_.UnregisterFileDescriptor(other);
    loop_.RegisterFileDescriptor(other, IIOEventLoop::kReadable, 0, &replacement);
  };
  first.onEvent = move;
  second.onEvent = move;
  loop_.RegisterFileDescriptor(a.Get(), IIOEventLoop::kReadable, 0, &first);
  loop_.RegisterFileDescriptor(b.Get(), IIOEventLoop::kReadable, 0, &second);
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_TRUE(replacement.events.empty());
  EXPECT_EQ(loop_.RunOnce(0), 1);
  EXPECT_EQ(replacement.events.size(), 1u);
  EXPECT_EQ(first.events.size() + second.events.size(), 1u);
}

TEST_F(TEpollEventLoopTest, ExceptionFromHandlerIsContainedAndTimeoutKeepsFiring) {
  TRecordingTimeout handler;
  handler.onFire = [](int) { throw TException("handler failed"); };
  loop_.AddTimeout(1, &handler);
  for (int i = 0; i < 2; ++i) {
    clock_.Advance(1);
    EXPECT_EQ(loop_.RunOnce(0), 1);
  }
  EXPECT_EQ(handler.fired.size(), 2u);
}

TEST_F(TEpollEventLoopTest, StopBeforeRunMakesRunReturnOnceAndIsConsumed) {
  loop_.Stop();
  loop_.Run();  // returns at once
  TRecordingTimeout handler;
  handler.onFire = [&](int) { loop_.Stop(); };
  loop_.AddTimeout(0, &handler);
  loop_.Run();  // the timeout is due now on the manual clock
  EXPECT_EQ(handler.fired.size(), 1u);
}

TEpollEventLoop* gSignalledLoop = nullptr;
extern "C" void StopOnSignal(int) { gSignalledLoop->Stop(); }

TEST(TEpollEventLoopSignalTest, StopFromSignalHandlerEndsRun) {
  TEpollEventLoop loop;  // the system clock: Run() really blocks in epoll_wait
  gSignalledLoop = &loop;
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = StopOnSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  // The signal arrives from inside the loop, while Run() is on its way to epoll_wait.
  class TRaise final : public IIOTimeoutHandler {
   public:
    void HandleTimeout(int) override { raise(SIGUSR1); }
  } raiser;
  loop.AddTimeout(0, &raiser);
  loop.Run();
  sigaction(SIGUSR1, &previous, nullptr);
  gSignalledLoop = nullptr;
}

}  // namespace
