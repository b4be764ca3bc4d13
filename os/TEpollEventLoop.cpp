#include "os/TEpollEventLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "base/TException.h"
#include "base/TTracker.h"

namespace {

constexpr int kMaxEventsPerPass = 64;
// The eventfd's registration: serial 0 is never handed out to a handler.
constexpr uint64_t kWakeupData = 0;
// Stop() runs in signal handlers: the flag must not hide a lock.
static_assert(std::atomic<bool>::is_always_lock_free, "Stop() needs a lock-free flag");

uint64_t PackData(int descriptor, uint32_t serial) {
  return (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(descriptor);
}

uint32_t EpollEvents(unsigned int mask) {
  uint32_t events = 0;
  if (mask & IIOEventLoop::kReadable) events |= EPOLLIN;
  if (mask & IIOEventLoop::kWritable) events |= EPOLLOUT;
  return events;
}

}  // namespace

TEpollEventLoop::TEpollEventLoop(IClock& clock)
    : clock_(clock),
      epoll_(epoll_create1(EPOLL_CLOEXEC)),
      wakeup_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!epoll_.IsValid()) throw TException(ErrnoMessage("TEpollEventLoop: epoll_create1", errno));
  if (!wakeup_.IsValid()) throw TException(ErrnoMessage("TEpollEventLoop: eventfd", errno));
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWakeupData;
  if (epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wakeup_.Get(), &event) != 0) {
    throw TException(ErrnoMessage("TEpollEventLoop: epoll_ctl eventfd", errno));
  }
}

TEpollEventLoop::~TEpollEventLoop() = default;

void TEpollEventLoop::RegisterFileDescriptor(int descriptor, unsigned int mask, int /*flags*/,
                                             IIOEventHandler* handler) {
  if (descriptor < 0 || !handler) {
    throw TException("TEpollEventLoop: invalid descriptor or handler");
  }
  uint32_t serial = nextSerial_++;
  if (nextSerial_ == 0) nextSerial_ = 1;
  epoll_event event{};
  event.events = EpollEvents(mask);
  event.data.u64 = PackData(descriptor, serial);
  const bool known = descriptors_.count(descriptor) != 0;
  int result = epoll_ctl(epoll_.Get(), known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, descriptor, &event);
  // The descriptor may have been closed and its number reused behind our back, or added by a
  // registration we lost track of: try the other operation once.
  if (result != 0 && (errno == ENOENT || errno == EEXIST)) {
    result = epoll_ctl(epoll_.Get(), errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, descriptor,
                       &event);
  }
  if (result != 0) {
    throw TException(ErrnoMessage(
        "TEpollEventLoop: cannot watch descriptor " + std::to_string(descriptor), errno));
  }
  descriptors_[descriptor] = TDescriptor{handler, mask, serial};
}

void TEpollEventLoop::UnregisterFileDescriptor(int descriptor) {
  auto found = descriptors_.find(descriptor);
  if (found == descriptors_.end()) return;
  descriptors_.erase(found);
  // Fails harmlessly when the owner already closed the descriptor.
  epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, descriptor, nullptr);
}

int TEpollEventLoop::AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) {
  // A period of 0 would make the loop spin; the repetition runs at least every millisecond.
  return Add(milliseconds, milliseconds == 0 ? 1 : milliseconds, handler);
}

int TEpollEventLoop::AddOneShotTimeout(uint64_t milliseconds, IIOTimeoutHandler* handler) {
  return Add(static_cast<int64_t>(milliseconds > UINT_MAX ? UINT_MAX : milliseconds), 0, handler);
}

int TEpollEventLoop::Add(int64_t delayMs, int64_t periodMs, IIOTimeoutHandler* handler) {
  if (!handler) throw TException("TEpollEventLoop: timeout without handler");
  // Identifiers are not reused while the counter lasts, so a stale identifier held by a
  // caller cannot remove somebody else's timeout.
  int id = nextTimeoutId_;
  nextTimeoutId_ = nextTimeoutId_ == INT_MAX ? 0 : nextTimeoutId_ + 1;
  while (timeouts_.count(id)) id = id == INT_MAX ? 0 : id + 1;
  const int64_t due = clock_.MonotonicMs() + delayMs;
  timeouts_[id] = TTimeout{handler, periodMs, due};
  deadlines_.emplace(due, id);
  return id;
}

void TEpollEventLoop::RemoveTimeout(int identifier) {
  auto found = timeouts_.find(identifier);
  if (found == timeouts_.end()) return;
  deadlines_.erase({found->second.dueMs, identifier});
  timeouts_.erase(found);
}

void TEpollEventLoop::Run() {
  while (!stopRequested_.load()) RunOnce(-1);
  stopRequested_.store(false);
  DrainWakeup();
}

void TEpollEventLoop::Stop() {
  const int savedErrno = errno;
  stopRequested_.store(true);
  const uint64_t one = 1;
  ssize_t written = write(wakeup_.Get(), &one, sizeof one);
  (void)written;  // a full counter already wakes the loop
  errno = savedErrno;
}

int TEpollEventLoop::WaitMs(int maxWaitMs) const {
  if (deadlines_.empty()) return maxWaitMs;
  const int64_t untilDue = deadlines_.begin()->first - clock_.MonotonicMs();
  const int64_t wait = untilDue < 0 ? 0 : untilDue;
  if (maxWaitMs >= 0 && wait > maxWaitMs) return maxWaitMs;
  return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

int TEpollEventLoop::RunOnce(int maxWaitMs) {
  epoll_event events[kMaxEventsPerPass];
  const int wait = stopRequested_.load() ? 0 : WaitMs(maxWaitMs);
  int ready = epoll_wait(epoll_.Get(), events, kMaxEventsPerPass, wait);
  if (ready < 0) {
    if (errno != EINTR) throw TException(ErrnoMessage("TEpollEventLoop: epoll_wait", errno));
    ready = 0;
  }
  int called = 0;
  for (int i = 0; i < ready; ++i) {
    if (events[i].data.u64 == kWakeupData) {
      DrainWakeup();
      continue;
    }
    const int descriptor = static_cast<int>(events[i].data.u64 & 0xffffffffu);
    const uint32_t serial = static_cast<uint32_t>(events[i].data.u64 >> 32);
    auto found = descriptors_.find(descriptor);
    if (found == descriptors_.end() || found->second.serial != serial) continue;
    unsigned int mask = 0;
    const uint32_t got = events[i].events;
    // Hang-up and error are reported to whatever the handler waits for, so that it reads
    // the end of the stream or the failure itself.
    const bool broken = got & (EPOLLHUP | EPOLLERR);
    if ((got & EPOLLIN) || broken) mask |= kReadable;
    if ((got & EPOLLOUT) || broken) mask |= kWritable;
    mask &= found->second.mask;
    if (!mask) continue;
    try {
      found->second.handler->HandleEvent(descriptor, mask);
    } catch (const std::exception& error) {
      // A handler that lets a failure escape loses this event, not the loop.
      TTracker::GetProcessTracker()->Error("TEpollEventLoop: handler of descriptor %d: %s",
                                           descriptor, error.what());
    }
    ++called;
  }
  return called + FireDueTimeouts();
}

int TEpollEventLoop::FireDueTimeouts() {
  const int64_t now = clock_.MonotonicMs();
  std::vector<int> due;
  for (auto it = deadlines_.begin(); it != deadlines_.end() && it->first <= now; ++it) {
    due.push_back(it->second);
  }
  int called = 0;
  for (int id : due) {
    auto found = timeouts_.find(id);
    if (found == timeouts_.end()) continue;
    TTimeout& timeout = found->second;
    IIOTimeoutHandler* handler = timeout.handler;
    deadlines_.erase({timeout.dueMs, id});
    if (timeout.periodMs == 0) {
      timeouts_.erase(found);
    } else {
      // Rescheduled from now rather than from the old deadline: a loop that was held up fires
      // a late timeout once instead of in a burst.
      timeout.dueMs = now + timeout.periodMs;
      deadlines_.emplace(timeout.dueMs, id);
    }
    try {
      handler->HandleTimeout(id);
    } catch (const std::exception& error) {
      TTracker::GetProcessTracker()->Error("TEpollEventLoop: handler of timeout %d: %s", id,
                                           error.what());
    }
    ++called;
  }
  return called;
}

void TEpollEventLoop::DrainWakeup() {
  uint64_t count = 0;
  ssize_t got = read(wakeup_.Get(), &count, sizeof count);
  (void)got;  // nothing to read is fine
}
