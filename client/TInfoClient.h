// The client library of the information service, for applications written in C++: get, set
// and unset information objects, move values to and from files, and be called back when
// objects matching a name or pattern change or disappear. Applications include this header
// (installed as <infoservice/TInfoClient.h>) and link with `pkg-config --libs infoservice`;
// nothing else of the service is needed. A plain C interface over the same client is in
// <infoservice/infoclient.h>.
//
// Names and values are byte strings (any byte, NUL included). An expression is a name, a
// prefix ending in ".*" ("cfg.locale.*"), or "*" alone.
//
// Threads: a TInfoClient may be used from several threads at once. Its first subscription
// starts one thread of its own, which serves the callbacks: they run there, one at a time, in
// the order the service sent them. A callback may call the client (Get, Set, Unsubscribe, even
// of its own subscription), but must not destroy it. That thread blocks every signal, so the
// application's signal handling is left alone.
//
// Errors: every failure throws TInfoError with a code and a text. Codes 201 (unknown object or
// malformed request), 202 (storage limit), 203 (permission denied by the service's access
// policy) and 207 (file failure) are the service's own refusals, with the service's text;
// kUnreachable means the service could not be found or did not answer; kInvalidArgument a call the
// library refused before sending anything.
//
// Cache: Cache("cfg.*") makes the client keep copies of the values of the matching names, so
// that reads from any thread are answered from memory instead of by an IPC round trip. The
// rules that keep the copies coherent with the service:
//   - The first read of a cached name subscribes to the expression and only then fetches the
//     value; from then on Get answers from memory. The service serves both requests in order
//     on its one thread, so every change after the fetch is notified and none goes unseen
//     (a fetch that a notification or an own write overtakes is not kept). A name that no
//     adapter holds is kept as absent: Get throws 201 from memory.
//   - A change or removal notification for the name drops its copy; the next read fetches.
//     So another process's change is visible once its notification has been processed by
//     the client's thread: in cache-bench on a 2-CPU PC, p50 about 20 us after the other
//     process started its set; p99 between 0.2 and 3 ms with the load of that machine
//     (shared with other builds), as the wake-ups wait for the scheduler (README, Benchmark).
//   - The client's own Set, Unset, SetFromFile (and SetObjects, UnsetObjects) drop the copies
//     of the names written before they return, so the next read shows the write. Other names
//     the service changes as a consequence (the client names of the alias list,
//     config.uilanguage after cfg.locale.ui) follow the rule for other processes.
//   - A lost connection to the service (its process ended, or a call found it unreachable)
//     drops every copy; reads are calls again until a read subscribes anew.
//   - Values the service computes on every read (var.utctime, var.memfree) are never kept. The
//     library knows no names: the service says so with each value it hands to the cache
//     (GetObject2). A service that lacks that operation gets no caching at all.
//   - On-request Infocast objects are fetched by the service while the cache subscribes to
//     exactly their name, as for any subscriber.
//   - Limits of the service that the cache inherits: it drops the notifications for a
//     subscriber whose queue is full (256 KiB behind), and it does not notify the client names
//     of an alias when the object behind them disappears entirely. The client's thread only
//     updates a map, so it keeps up with any rate the service can send at.
//   - At most kDefaultCacheEntries entries and kDefaultCacheBytes bytes of names and values
//     (SetCacheLimits); the least recently read entry goes first.
//
// Example: print a value and then every change under "cfg.".
//
//   #include <infoservice/TInfoClient.h>
//   #include <cstdio>
//   #include <unistd.h>
//
//   int main() {
//     infoservice::TInfoClient client;  // finds the service through INFOSERVICE_ADDRESS
//     try {
//       std::printf("%s\n", client.Get("cfg.locale.ui").c_str());
//       client.Watch({"cfg.*"}, [&](infoservice::TInfoClient::TEvent event,
//                                   const std::string& name) {
//         std::printf("%s %s\n", event == infoservice::TInfoClient::eChanged ? "changed"
//                                                                            : "removed",
//                     name.c_str());
//       });
//       pause();
//     } catch (const infoservice::TInfoError& e) {
//       std::fprintf(stderr, "error %d: %s\n", e.GetCode(), e.GetText().c_str());
//       return 1;
//     }
//   }
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace infoservice {

// A failed request: the code and text the service answered with, or one of the library's own.
class TInfoError : public std::runtime_error {
 public:
  // The service could not be found, reached, or did not answer in time.
  static constexpr int kUnreachable = 300;
  // The service's access policy does not allow this caller the request.
  static constexpr int kPermissionDenied = 203;
  // The application passed something the library cannot send (a null pointer through the C
  // interface, a name list and a value list of different lengths, an empty callback).
  static constexpr int kInvalidArgument = 301;

  TInfoError(int code, const std::string& text);
  ~TInfoError() override;

  int GetCode() const noexcept { return code_; }
  const std::string& GetText() const noexcept { return text_; }

 private:
  int code_;
  std::string text_;
};

class TInfoClient final {
 public:
  // Where a write goes: the permanent storage (kept across restarts) or the volatile one,
  // which shadows the permanent value of the same name until it is unset.
  enum TStorage { ePermanent = 0, eVolatile = 1 };
  enum TEvent { eChanged = 0, eRemoved = 1 };
  // Called with each change of a subscribed object, on the client's own thread.
  using TCallback = std::function<void(TEvent event, const std::string& name)>;

  // address: the service's IPC address ("ipc:/...sock#N", what `infoservice -i` writes).
  // Empty: $INFOSERVICE_ADDRESS, else "InformationService" looked up at the name service
  // $NAMESERVICE_ADDRESS. Nothing is contacted before the first request, so construction does
  // not fail for an absent service.
  explicit TInfoClient(const std::string& address = std::string());
  // Ends every subscription (quietly: the service may be gone) and the client's thread. Must
  // not be called from a callback.
  ~TInfoClient();
  TInfoClient(const TInfoClient&) = delete;
  TInfoClient& operator=(const TInfoClient&) = delete;

  // Bounds of the cache unless SetCacheLimits says otherwise.
  static constexpr size_t kDefaultCacheEntries = 4096;
  static constexpr size_t kDefaultCacheBytes = 1024 * 1024;

  // How long a request waits for the service (default 5000 ms).
  void SetTimeoutMs(int milliseconds);
  // The address in use; finds it first when none was given. Throws kUnreachable.
  std::string GetAddress();

  std::string Get(const std::string& name);
  void Set(const std::string& name, const std::string& value, TStorage storage = ePermanent);
  // Removes the object from that storage; the value behind it (a default) shows again.
  void Unset(const std::string& name, TStorage storage = ePermanent);
  // The same for several objects in one request. (Named apart from the single-object calls:
  // {"a", "b"} would otherwise also convert to one std::string, from two pointers.)
  // GetObjects answers the values in the order of the names; one unknown name fails it all.
  std::vector<std::string> GetObjects(const std::vector<std::string>& names);
  void SetObjects(const std::vector<std::string>& names, const std::vector<std::string>& values,
                  TStorage storage = ePermanent);
  void UnsetObjects(const std::vector<std::string>& names, TStorage storage = ePermanent);
  // The service itself writes or reads the file, so fileName should be absolute; GetToFile
  // writes into an existing file only.
  void GetToFile(const std::string& name, const std::string& fileName);
  void SetFromFile(const std::string& name, const std::string& fileName,
                   TStorage storage = ePermanent);

  // Calls `callback` for every later change of an object matching one of the expressions.
  // Returns the subscription's id for Unsubscribe. A refused expression ends the whole
  // subscription and throws (201 "Invalid expression").
  int Subscribe(const std::vector<std::string>& expressions, TCallback callback);
  // As Subscribe, but first calls back eChanged for every present match. Those calls may still
  // be arriving after Watch returned.
  int Watch(const std::vector<std::string>& expressions, TCallback callback);
  // Ends a subscription. Once it returns (on another thread than the client's), its callback
  // runs no more; called from a callback, no later call follows. Unknown ids are ignored.
  void Unsubscribe(int id);

  // Keeps the values of the names matching the expression in memory, under the rules at the
  // top of this file. Contacts nobody: the subscription starts with the first read. Throws
  // kInvalidArgument for an empty expression or when 256 expressions are cached already.
  void Cache(const std::string& expression);
  // Bounds the cache: at most `entries` entries and `bytes` bytes of names and values; what
  // is over them is dropped at once, least recently read first. 0 entries turns caching off.
  void SetCacheLimits(size_t entries, size_t bytes);

  // The names of the visible objects matching the expression, sorted.
  std::vector<std::string> List(const std::string& expression = "*");
  // Names and values of the visible objects matching the expression; objects that vanish
  // while the dump runs are left out.
  std::map<std::string, std::string> Dump(const std::string& expression = "*");

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace infoservice
