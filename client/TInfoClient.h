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
