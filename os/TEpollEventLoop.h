// The event loop of the process: one epoll set, descriptors with their handlers and timeouts
// ordered by deadline on the monotonic clock of an IClock. It owns the epoll descriptor and an
// eventfd that Stop() writes to; handlers are not owned. Whoever runs the loop creates it
// (main, in the daemon) and hands it to everything that registers on it: the IPC server and
// client, the service, the adapters; they must not outlive it. Everything runs on the thread
// that calls Run() or RunOnce(); only Stop() may be called from elsewhere (a signal handler or
// another thread).
//
// Re-entrancy: a handler may register, unregister, add and remove anything, its own entry
// included. Each registration carries a serial number in its epoll data, so an event that
// was already collected for a descriptor that has since been unregistered (or registered
// again with another handler) is dropped; timeouts due in a pass are looked up by identifier
// right before each call, so one removed earlier in the same pass is skipped. An exception
// that escapes a handler is traced and the loop goes on.
#pragma once

#include <sys/epoll.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "os/TUniqueFd.h"

class TEpollEventLoop final : public IIOEventLoop {
 public:
  explicit TEpollEventLoop(IClock& clock = IClock::System());
  ~TEpollEventLoop() override;

  // IIOEventLoop
  void RegisterFileDescriptor(int descriptor, unsigned int mask, int flags,
                              IIOEventHandler* handler) override;
  void UnregisterFileDescriptor(int descriptor) override;
  int AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) override;
  int AddOneShotTimeout(uint64_t milliseconds, IIOTimeoutHandler* handler) override;
  void RemoveTimeout(int identifier) override;

  // Dispatches until Stop(). A Stop() that arrived before Run() makes it return at once; the
  // request is consumed when Run() returns.
  void Run();
  // Async-signal-safe: sets a flag and writes to the eventfd; errno is preserved.
  void Stop();
  // One pass: waits at most maxWaitMs (0: do not wait, -1: until something happens) or until
  // the earliest timeout, then calls the handlers of ready descriptors and of due timeouts.
  // Returns the number of handlers called. Tests drive a TManualClock with RunOnce(0).
  int RunOnce(int maxWaitMs);

  IClock& GetClock() const { return clock_; }
  size_t GetDescriptorCount() const { return descriptors_.size(); }
  size_t GetTimeoutCount() const { return timeouts_.size(); }

 private:
  struct TDescriptor {
    IIOEventHandler* handler;
    unsigned int mask;
    uint32_t serial;
  };
  struct TTimeout {
    IIOTimeoutHandler* handler;
    int64_t periodMs;  // 0: one-shot
    int64_t dueMs;
  };

  int Add(int64_t delayMs, int64_t periodMs, IIOTimeoutHandler* handler);
  void DispatchDescriptor(const epoll_event& event);
  int FireDueTimeouts();
  int WaitMs(int maxWaitMs) const;
  void DrainWakeup();

  IClock& clock_;
  TUniqueFd epoll_;
  TUniqueFd wakeup_;
  std::atomic<bool> stopRequested_{false};
  std::unordered_map<int, TDescriptor> descriptors_;
  uint32_t nextSerial_ = 1;
  std::map<int, TTimeout> timeouts_;
  std::set<std::pair<int64_t, int>> deadlines_;
  int nextTimeoutId_ = 0;
};
