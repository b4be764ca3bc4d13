// The inside of TIpcClient: one connection per peer socket, reused across calls.
//
// Calls wait for their reply on a blocking socket whose kernel timeouts bound every wait, so
// a call costs one send and one receive in the common case. One-way deliveries (notifications
// and the platform's life-cycle calls) never wait: what the socket does not take at once goes
// into a per-peer queue of at most kMaxQueuedBytes; a delivery that does not fit is dropped
// with a TException. The queue drains on the next use of that peer and, when an event loop
// runs on this thread, as soon as the socket becomes writable again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ipc/TIpcClient.h"
#include "ipc/TIpcWriter.h"

struct TIpcClient::TImpl final {
  static constexpr size_t kMaxQueuedBytes = 256 * 1024;
  static constexpr size_t kMaxPeers = 1024;

  TImpl();
  ~TImpl();

  // Sends the request built in writer to the object at address and waits for the reply,
  // whose payload is stored in reply. Throws TRemoteException with the served operation's
  // code and text, TException when the address is invalid or the peer unreachable, dead,
  // late or speaking garbage.
  void Call(const std::string& address, uint16_t operation, TIpcWriter& request,
            std::string& reply);
  // Delivers without waiting for an answer or for the peer. Throws TException when the
  // peer cannot be reached or its queue is full.
  void Post(const std::string& address, uint16_t operation, TIpcWriter& request);
  // Tries for at most maxWaitMs to hand every queued delivery to the kernel.
  void FlushQueues(int maxWaitMs);
  // Drops every connection and what is queued on it.
  void CloseAll();

  int timeoutMs = kDefaultCallTimeoutMs;

 private:
  class TPeer;
  TPeer& GetPeer(const std::string& socketPath, const std::string& address, int64_t deadlineMs,
                 bool mayWait);

  std::map<std::string, std::unique_ptr<TPeer>> peers_;
  uint32_t nextCallId_ = 1;
};
