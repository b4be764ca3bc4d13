// The IPC server of a process: listens on one Unix socket, serves the objects created on it
// through their dispatchers, and owns the event loop every descriptor and timer of the
// process runs on. Run() serves until Stop(); Stop() is async-signal-safe.
#pragma once

#include <memory>
#include <string>

#include "os/IClock.h"
#include "os/IIOEventLoop.h"

class TIpcServer final {
 public:
  // Creates the listening socket in the runtime directory RootPath("/tmp/infoservice-ipc")
  // (made with mode 0770 when missing). Throws TException when the socket cannot be set up.
  TIpcServer();
  // The same, with the loop's timeouts on the given clock (tests).
  explicit TIpcServer(IClock& clock);
  ~TIpcServer();
  TIpcServer(const TIpcServer&) = delete;
  TIpcServer& operator=(const TIpcServer&) = delete;

  // The address of a new served object on this server; a dispatcher built with it routes
  // calls for it while it exists.
  std::string CreateObject();
  // Serves on the calling thread until Stop(); a Stop() that came first makes it return at
  // once.
  void Run();
  // Async-signal-safe and callable from any thread.
  void Stop();
  IIOEventLoop& GetEventLoop();
  // The path of the listening socket.
  const std::string& GetSocketPath() const;

  struct TImpl;
  TImpl& GetImpl() { return *impl_; }

 private:
  std::unique_ptr<TImpl> impl_;
};
