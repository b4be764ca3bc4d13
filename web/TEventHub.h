// The one subscription infoservice-web holds at the daemon, and what it feeds: the event streams
// of the browsers and the recent history of the Infocast reception statistics.
//
// The daemon sends its notifications one-way and never waits for a subscriber, and the
// library's observer thread only records the name in a coalescing set here, so neither a busy
// publisher nor a slow browser costs the daemon anything but that one subscription. A
// publisher thread of its own reads the new values and appends one event per change to every
// open stream. Every store is bounded:
//   - kMaxPendingNames names wait for the publisher; past that they are dropped and the
//     streams get a "resync" event, after which a page reloads its objects;
//   - kMaxStreams streams; a stream holds at most kMaxQueuedBytes not yet sent, and a stream
//     that exceeds it (its reader stopped reading) is dropped, never waited for;
//   - an event carries at most kMaxEventValueBytes of a value (marked "truncated");
//   - kMaxSeries statistics series of at most kMaxSeriesPoints points, none older than
//     kHistorySpan.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "client/TInfoClient.h"

// One browser's event stream: text waiting to be sent, filled by the publisher and drained by
// the HTTP connection's thread.
class TEventStream final {
 public:
  static constexpr size_t kMaxQueuedBytes = 1024 * 1024;

  // Appends text unless the stream was dropped or ended; drops the stream (and frees what it
  // held) when the queue would exceed kMaxQueuedBytes.
  void Push(const std::string& text);
  // Waits up to `wait` for queued text and moves up to max bytes of it into buffer. Returns the
  // count (0: nothing arrived in time), or -1 once the stream was dropped or ended.
  long Take(char* buffer, size_t max, std::chrono::milliseconds wait);
  // Ends the stream: Take returns -1 from now on.
  void End();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::string queue_;
  size_t sent_ = 0;  // bytes of queue_ already taken
  bool ended_ = false;
};

class TEventHub final {
 public:
  static constexpr size_t kMaxStreams = 16;
  static constexpr size_t kMaxPendingNames = 4096;
  static constexpr size_t kMaxEventValueBytes = 4096;
  static constexpr size_t kMaxSeries = 64;
  static constexpr size_t kMaxSeriesPoints = 600;
  static constexpr std::chrono::seconds kHistorySpan{600};
  // The objects whose numeric values are kept as history.
  static constexpr const char* kStatisticsPrefix = "stat.infocast.";

  // Holds the client without owning it; it must outlive the hub.
  explicit TEventHub(infoservice::TInfoClient& client);
  // Ends the subscription, the publisher and every stream.
  ~TEventHub();
  TEventHub(const TEventHub&) = delete;
  TEventHub& operator=(const TEventHub&) = delete;

  // Subscribes to every object and starts the publisher. Throws TInfoError when the daemon
  // refuses or cannot be reached.
  void Start();
  // A new stream, registered before anything is read from the daemon for it, so that a page
  // that loads its objects after opening the stream misses no change. Null when kMaxStreams
  // are open.
  std::shared_ptr<TEventStream> OpenStream();
  void CloseStream(const std::shared_ptr<TEventStream>& stream);
  // Ends every stream (at shutdown, so that no connection waits for more events).
  void EndStreams();
  // {"now":MS,"series":{"NAME":[[MS,VALUE],...],...}}, times in milliseconds since the epoch.
  std::string HistoryJson();

 private:
  using TClock = std::chrono::system_clock;

  void OnNotification(infoservice::TInfoClient::TEvent event, const std::string& name);
  void RunPublisher();
  // The event text of one change, read from the daemon now.
  std::string EventFor(const std::string& name, bool removed);
  void Broadcast(const std::string& text);
  void Record(const std::string& name, const std::string& value);

  infoservice::TInfoClient& client_;
  int subscription_ = -1;

  std::mutex pendingMutex_;
  std::condition_variable pendingReady_;
  std::map<std::string, bool> pending_;  // name -> removed
  bool overflowed_ = false;
  bool stopping_ = false;

  std::mutex streamsMutex_;
  std::set<std::shared_ptr<TEventStream>> streams_;

  std::mutex historyMutex_;
  std::map<std::string, std::deque<std::pair<long long, double>>> history_;

  std::thread publisher_;
};
