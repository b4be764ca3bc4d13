#include "client/TObserverThread.h"

#include <signal.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <future>

#include "base/TException.h"
#include "toi/IToiInformationObserver.h"
#include "toi/TToiInformationObserverDispatcher.h"

struct TObserverThread::TObserver final : public IToiInformationObserver {
  TObserver(IIpcServer& server, const std::string& address, TNotify notify,
            std::shared_ptr<std::atomic<bool>> active)
      : notify_(std::move(notify)),
        active_(std::move(active)),
        dispatcher_(server, address, *this) {}

  // IToiInformationObserver
  void OnObjectsChanged(const TStringList& names) override { Deliver(false, names); }
  void OnObjectsRemoved(const TStringList& names) override { Deliver(true, names); }

 private:
  void Deliver(bool removed, const TStringList& names) {
    for (const std::string& name : names) {
      if (!*active_) return;
      // The application's callback must not take the loop down with it.
      try {
        notify_(removed, name);
      } catch (...) {
      }
    }
  }

  TNotify notify_;
  std::shared_ptr<std::atomic<bool>> active_;
  TToiInformationObserverDispatcher dispatcher_;
};

TObserverThread::TObserverThread() : wakeup_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!wakeup_.IsValid()) throw TException(ErrnoMessage("client thread: eventfd", errno));
  loop_.RegisterFileDescriptor(wakeup_.Get(), 1, 0, this);
  // The thread inherits the signal mask of its creator: block everything for it only.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  thread_ = std::thread([this] { loop_.Run(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

TObserverThread::~TObserverThread() {
  loop_.Stop();
  if (thread_.joinable()) thread_.join();
  loop_.UnregisterFileDescriptor(wakeup_.Get());
  ReleasePeer();
  // Tasks that never ran only freed observers; the map goes with the members.
  observers_.clear();
}

std::string TObserverThread::Add(int id, TNotify notify) {
  auto active = std::make_shared<std::atomic<bool>>(true);
  {
    std::lock_guard<std::mutex> lock(activeMutex_);
    active_[id] = active;
  }
  std::string address;
  try {
    RunOnThread([&] {
      address = server_.CreateObject();
      observers_[id] = std::make_unique<TObserver>(server_, address, std::move(notify), active);
    });
  } catch (...) {
    std::lock_guard<std::mutex> lock(activeMutex_);
    active_.erase(id);
    throw;
  }
  return address;
}

void TObserverThread::Remove(int id) {
  {
    std::lock_guard<std::mutex> lock(activeMutex_);
    const auto found = active_.find(id);
    if (found == active_.end()) return;
    *found->second = false;
    active_.erase(found);
  }
  if (IsThread()) {
    Post([this, id] { observers_.erase(id); });
  } else {
    RunOnThread([this, id] { observers_.erase(id); });
  }
}

void TObserverThread::RunOnThread(const std::function<void()>& task) {
  if (IsThread()) {
    task();
    return;
  }
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> result = done->get_future();
  Post([&task, done] {
    try {
      task();
      done->set_value();
    } catch (...) {
      done->set_exception(std::current_exception());
    }
  });
  result.get();
}

void TObserverThread::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  const uint64_t one = 1;
  // The counter cannot overflow at one increment per task; a failed write still leaves the
  // task queued, and any later wake-up runs it.
  if (write(wakeup_.Get(), &one, sizeof one) < 0) {
  }
}

void TObserverThread::WatchPeer(TUniqueFd connection, std::function<void()> closed) {
  // The descriptor travels in a shared owner: a std::function must be copyable.
  auto owned = std::make_shared<TUniqueFd>(std::move(connection));
  RunOnThread([this, owned, &closed] {
    ReleasePeer();
    peer_ = std::move(*owned);
    peerClosed_ = std::move(closed);
    loop_.RegisterFileDescriptor(peer_.Get(), 1, 0, this);
  });
}

void TObserverThread::ReleasePeer() {
  if (peer_.IsValid()) loop_.UnregisterFileDescriptor(peer_.Get());
  peer_.Reset();
  peerClosed_ = nullptr;
}

void TObserverThread::HandleEvent(int descriptor, unsigned int) {
  if (peer_.IsValid() && descriptor == peer_.Get()) {
    const std::function<void()> closed = std::move(peerClosed_);
    ReleasePeer();
    if (closed) closed();
    return;
  }
  uint64_t count = 0;
  if (read(wakeup_.Get(), &count, sizeof count) < 0 && errno != EAGAIN) return;
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task();
}
