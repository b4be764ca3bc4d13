// The thread a client library instance serves its subscribers' observers on: an event loop,
// an IPC server and one observer object per subscription, each delivering the service's
// notifications to a callback. It owns the loop, the server, the observers and the thread.
//
// The loop runs on the thread alone; other threads reach it through a task queue that an
// eventfd wakes the loop for. Observers are removed only from a queued task, never inside
// the dispatch of a notification, so a callback may end its own subscription. The thread
// blocks every signal: the application's handlers stay on the application's threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/TStringList.h"
#include "ipc/TIpcServer.h"
#include "os/IIOEventHandler.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"

class TObserverThread final : private IIOEventHandler {
 public:
  // removed: false for a change, true for a removal. Called on the thread.
  using TNotify = std::function<void(bool removed, const std::string& name)>;

  // Sets up the loop and the server, then starts the thread. Throws TException when the
  // server's socket cannot be made.
  TObserverThread();
  // Stops and joins the thread. Must not run on it.
  ~TObserverThread() override;

  // Serves a new observer that passes every notification to notify while it is active.
  // Returns its IPC address.
  std::string Add(int id, TNotify notify);
  // Silences the observer at once and frees it from a queued task. On another thread, waits
  // until that task ran, so no notification of it is being delivered when Remove returns.
  void Remove(int id);
  bool IsThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // Watches a connection to a peer that never sends anything: when it ends (the peer's
  // process is gone) or anything arrives, closed runs on the thread, once, and the descriptor
  // is released. Replaces the connection watched before, without calling its closed.
  void WatchPeer(TUniqueFd connection, std::function<void()> closed);

 private:
  struct TObserver;

  // Runs task on the thread: directly when already there, else queued, waiting for its end.
  void RunOnThread(const std::function<void()>& task);
  void Post(std::function<void()> task);
  // IIOEventHandler: the wake-up eventfd and the watched peer.
  void HandleEvent(int descriptor, unsigned int events) override;
  void ReleasePeer();

  TEpollEventLoop loop_;
  TIpcServer server_{loop_};
  TUniqueFd wakeup_;
  std::mutex tasksMutex_;
  std::vector<std::function<void()>> tasks_;
  // Touched on the thread only (and after it ended, by the destructor).
  std::map<int, std::unique_ptr<TObserver>> observers_;
  TUniqueFd peer_;
  std::function<void()> peerClosed_;
  std::mutex activeMutex_;
  std::map<int, std::shared_ptr<std::atomic<bool>>> active_;
  std::thread thread_;
};
