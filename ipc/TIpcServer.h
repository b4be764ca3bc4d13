// The IPC server of a process: listens on one Unix socket and serves the objects created on
// it through their dispatchers. Its listening socket and connections are watched by the event
// loop it is given, which is not owned and must outlive the server; everything runs on the
// loop's thread, and whoever owns the loop runs and stops it.
//
// Each connection reads at most one chunk per readiness event and serves every complete frame
// in it, so a client that floods or stalls cannot hold the loop; a malformed frame closes only
// its own connection. Replies that the client does not take at once wait in a per-connection
// queue; a client that lets more than kMaxReplyBacklog pile up is disconnected.
//
// Every accepted connection keeps its peer's credentials as the kernel recorded them
// (TPeerCredentials); while a call is dispatched, GetCallerCredentials answers with those of
// the connection it came on. One user may hold at most the per-peer bound of connections
// (kMaxConnectionsPerPeer unless SetMaxConnectionsPerPeer says otherwise), so one application
// cannot take the whole connection table; root and the daemon's own user are not bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ipc/ICallerCredentials.h"
#include "ipc/IIpcServer.h"
#include "ipc/TIpcFrame.h"

class IIOEventLoop;

class TIpcServer final : public IIpcServer, public ICallerCredentials {
 public:
  static constexpr size_t kMaxConnections = 1024;
  // Connections one user may hold at once. An application needs one per peer socket it
  // calls from plus its observers' calls back; 64 leaves room for many threads.
  static constexpr size_t kMaxConnectionsPerPeer = 64;
  static constexpr size_t kMaxReplyBacklog = 2 * TIpcFrame::kMaxFrameBody + 1024 * 1024;
  // Codes of the errors the runtime itself answers with.
  static constexpr uint16_t kNoSuchObject = 1;
  static constexpr uint16_t kNoSuchOperation = 2;
  static constexpr uint16_t kInternalError = 3;

  // Creates the listening socket in the runtime directory RootPath("/tmp/infoservice-ipc")
  // (made with mode 0770 when missing) and watches it on loop. Throws TException when the
  // socket cannot be set up.
  explicit TIpcServer(IIOEventLoop& loop);
  // Removes the socket file.
  ~TIpcServer() override;

  // IIpcServer
  std::string CreateObject() override;
  uint32_t AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher) override;
  void RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher) override;

  // ICallerCredentials
  const TPeerCredentials* GetCallerCredentials() const override;

  // Connections beyond this many of one user (other than root and the daemon's own user) are
  // closed as soon as they are accepted; at least 1.
  void SetMaxConnectionsPerPeer(size_t maximum);

  // The path of the listening socket.
  const std::string& GetSocketPath() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};
