// The IPC server of a process: listens on one Unix socket, serves the objects created on it
// through their dispatchers, and owns the event loop every descriptor and timer of the
// process runs on. Run() serves until Stop(); Stop() is async-signal-safe.
#pragma once

#include <memory>
#include <string>

#include "platform/IIOEventLoop.h"

class TIpcServer final {
 public:
  TIpcServer();
  ~TIpcServer();
  TIpcServer(const TIpcServer&) = delete;
  TIpcServer& operator=(const TIpcServer&) = delete;

  // The address of a new served object on this server; a dispatcher built with it routes
  // calls for it while it exists.
  std::string CreateObject();
  void Run();
  void Stop();
  IIOEventLoop& GetEventLoop();

  struct TImpl;
  TImpl& GetImpl() { return *impl_; }

 private:
  std::unique_ptr<TImpl> impl_;
};
