// The inside of TIpcServer: the event loop, the listening socket, the connections accepted on
// it and the table from object number to dispatcher. Everything runs on the loop thread.
//
// Each connection reads at most one chunk per readiness event and serves every complete frame
// in it, so a client that floods or stalls cannot hold the loop; a malformed frame closes only
// its own connection. Replies that the client does not take at once wait in a per-connection
// queue; a client that lets more than kMaxReplyBacklog pile up is disconnected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "ipc/TIpcFrame.h"
#include "ipc/TIpcServer.h"
#include "ipc/TIpcWriter.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"

class TIpcDispatcher;

struct TIpcServer::TImpl final : public IIOEventHandler {
  static constexpr size_t kMaxConnections = 1024;
  static constexpr size_t kMaxReplyBacklog = 2 * TIpcFrame::kMaxFrameBody + 1024 * 1024;
  // Codes of the errors the runtime itself answers with.
  static constexpr uint16_t kNoSuchObject = 1;
  static constexpr uint16_t kNoSuchOperation = 2;
  static constexpr uint16_t kInternalError = 3;

  explicit TImpl(IClock& clock);
  ~TImpl() override;

  std::string CreateObject();
  // Routes calls for the object at address (one created here) to dispatcher. Throws
  // TException for an address of another server or one that is served already.
  uint32_t AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher);
  void RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher);

  // IIOEventHandler
  void HandleEvent(int descriptor, unsigned int events) override;

  TEpollEventLoop loop;
  std::string socketPath;

 private:
  struct TConnection;

  void AcceptConnections();
  bool ReadAndServe(TConnection& connection);
  bool ServeFrame(TConnection& connection, const TIpcFrame& frame);
  bool SendFrame(TConnection& connection, const std::string& frame);
  bool SendError(TConnection& connection, uint32_t callId, uint16_t code, const std::string& text);
  bool FlushReplies(TConnection& connection);
  void CloseConnection(int descriptor);

  TUniqueFd listener_;
  uint32_t nextObjectId_ = 1;
  std::unordered_map<uint32_t, TIpcDispatcher*> dispatchers_;
  std::unordered_map<int, std::unique_ptr<TConnection>> connections_;
  TIpcWriter writer_;
  bool refusalTraced_ = false;
};
