#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "base/TException.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUniqueFd.h"

namespace {

// Records what fired; a readable descriptor is drained, then the hook runs.
class THandler final : public IIOTimeoutHandler, public IIOEventHandler {
 public:
  std::function<void(int)> hook;
  std::vector<int> fired;
  void HandleTimeout(int identifier) override {
    fired.push_back(identifier);
    if (hook) hook(identifier);
  }
  void HandleEvent(int descriptor, unsigned int mask) override {
    EXPECT_EQ(mask, IIOEventLoop::kReadable);
    uint64_t value = 0;
    EXPECT_EQ(read(descriptor, &value, sizeof value), 8);
    HandleTimeout(descriptor);
  }
};

TUniqueFd SignalledEventFd() { return TUniqueFd(eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC)); }

class TEpollEventLoopTest : public ::testing::Test {
 protected:
  int Pass(int64_t milliseconds = 0) {
    clock_.Advance(milliseconds);
    return loop_.RunOnce(0);
  }
  TManualClock clock_;
  TEpollEventLoop loop_{clock_};
  THandler first_, second_;
};

TEST_F(TEpollEventLoopTest, PeriodicTimeoutFiresAtEachPeriodUntilRemoved) {
  const int id = loop_.AddTimeout(100, &first_);
  EXPECT_EQ(Pass(0), 0);
  EXPECT_EQ(Pass(99), 0);
  EXPECT_EQ(Pass(1), 1);
  EXPECT_EQ(Pass(100), 1);
  EXPECT_EQ(Pass(1000), 1);  // a late loop fires once, not in a burst
  EXPECT_EQ(Pass(0), 0);
  EXPECT_EQ(first_.fired, (std::vector<int>{id, id, id}));
  loop_.RemoveTimeout(id);
  loop_.RemoveTimeout(id);  // twice, and unknown identifiers, are harmless
  loop_.RemoveTimeout(-1);
  EXPECT_NE(loop_.AddTimeout(1, &first_), id) << "identifiers are not reused at once";
  EXPECT_EQ(Pass(1000), 1);
}

// A timeout removing itself and a due timeout removed by an earlier handler of the same pass
// never fire again; one added in a handler waits for its own time; an exception is contained.
TEST_F(TEpollEventLoopTest, HandlersMayRemoveAddAndThrow) {
  const int firstId = loop_.AddTimeout(10, &first_);
  const int secondId = loop_.AddTimeout(10, &second_);
  first_.hook = [&](int) {
    loop_.RemoveTimeout(firstId);
    loop_.RemoveTimeout(secondId);
  };
  second_.hook = first_.hook;
  for (int i = 0; i < 3; ++i) Pass(10);
  EXPECT_EQ(first_.fired.size() + second_.fired.size(), 1u);
  EXPECT_EQ(loop_.GetTimeoutCount(), 0u);
  THandler replacement;
  first_.hook = [&](int id) {
    loop_.RemoveTimeout(id);
    loop_.AddTimeout(0, &replacement);
  };
  loop_.AddTimeout(1, &first_);
  EXPECT_EQ(Pass(1), 1);
  EXPECT_TRUE(replacement.fired.empty());
  EXPECT_EQ(Pass(0), 1);
  EXPECT_EQ(replacement.fired.size(), 1u);
  THandler thrower;
  thrower.hook = [](int) { throw TException("handler failed"); };
  loop_.AddTimeout(1, &thrower);
  EXPECT_EQ(Pass(1), 2);
  EXPECT_EQ(Pass(1), 2);
  EXPECT_EQ(thrower.fired.size(), 2u);
}

TEST_F(TEpollEventLoopTest, ReadableDescriptorCallsHandlerUntilUnregisteredUnpollableThrows) {
  TUniqueFd fd = SignalledEventFd();
  loop_.RegisterFileDescriptor(fd.Get(), IIOEventLoop::kReadable, 0, &first_);
  EXPECT_EQ(Pass(), 1);
  EXPECT_EQ(Pass(), 0);  // drained by the handler
  uint64_t one = 1;
  ASSERT_EQ(write(fd.Get(), &one, sizeof one), 8);
  loop_.UnregisterFileDescriptor(fd.Get());
  loop_.UnregisterFileDescriptor(fd.Get());  // twice is harmless
  EXPECT_EQ(Pass(), 0);
  EXPECT_THROW(loop_.RegisterFileDescriptor(-1, IIOEventLoop::kReadable, 0, &first_), TException);
  EXPECT_THROW(loop_.RegisterFileDescriptor(12345, IIOEventLoop::kReadable, 0, &first_),
               TException);
  EXPECT_EQ(loop_.GetDescriptorCount(), 0u);
}

// Whichever descriptor is served first moves the other to a new handler: the event already
// collected for it belongs to the old registration and is dropped, and the new registration
// is served from the next pass.
TEST_F(TEpollEventLoopTest, EventCollectedBeforeReRegistrationDoesNotReachNewHandler) {
  TUniqueFd a = SignalledEventFd();
  TUniqueFd b = SignalledEventFd();
  THandler replacement;
  first_.hook = [&](int descriptor) {
    const int other = descriptor == a.Get() ? b.Get() : a.Get();
    loop_.UnregisterFileDescriptor(other);
    loop_.RegisterFileDescriptor(other, IIOEventLoop::kReadable, 0, &replacement);
  };
  second_.hook = first_.hook;
  loop_.RegisterFileDescriptor(a.Get(), IIOEventLoop::kReadable, 0, &first_);
  loop_.RegisterFileDescriptor(b.Get(), IIOEventLoop::kReadable, 0, &second_);
  EXPECT_EQ(Pass(), 1);
  EXPECT_TRUE(replacement.fired.empty());
  EXPECT_EQ(Pass(), 1);
  EXPECT_EQ(replacement.fired.size(), 1u);
  EXPECT_EQ(first_.fired.size() + second_.fired.size(), 1u);
}

TEST_F(TEpollEventLoopTest, StopBeforeRunMakesRunReturnOnceAndIsConsumed) {
  loop_.Stop();
  loop_.Run();  // returns at once
  first_.hook = [&](int) { loop_.Stop(); };
  loop_.AddTimeout(0, &first_);
  loop_.Run();  // the timeout is due now on the manual clock
  EXPECT_EQ(first_.fired.size(), 1u);
}

}  // namespace
