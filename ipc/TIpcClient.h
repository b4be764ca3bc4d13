// The IPC client of a process: one connection per peer socket, reused across calls, and the
// call timeout. Callers (TIpcCaller and its branches) are built from a client and a peer
// address. Not thread-safe: one thread per client.
//
// Calls wait for their reply on a blocking socket whose kernel timeouts bound every wait, so
// a call costs one send and one receive in the common case. One-way deliveries (notifications
// and the platform's life-cycle calls) never wait: what the socket does not take at once goes
// into a per-peer queue of at most kMaxQueuedBytes; a delivery that does not fit is dropped
// with a TException. The queue drains on the next use of that peer and, for a client built
// with an event loop, as soon as the socket becomes writable again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class IIOEventLoop;
class TIpcWriter;

class TIpcClient final {
 public:
  static constexpr size_t kMaxQueuedBytes = 256 * 1024;
  // How long a call waits for its peer unless SetCallTimeoutMs says otherwise.
  static constexpr int kDefaultCallTimeoutMs = 5000;

  // A client whose queued one-way deliveries also drain from the loop, which is not owned and
  // must outlive the client. The client must then be used on the loop's thread only.
  explicit TIpcClient(IIOEventLoop& loop);
  // A client without a loop, for a thread that runs none: queued one-way deliveries drain on
  // the next use of their peer and in TCIpcClient_CleanUp only.
  TIpcClient();
  ~TIpcClient();
  TIpcClient(const TIpcClient&) = delete;
  TIpcClient& operator=(const TIpcClient&) = delete;

  // A call that gets no reply in time throws TException and drops the connection; a peer
  // trickling bytes can stretch a call to at most twice the timeout.
  void SetCallTimeoutMs(int milliseconds);

  // Sends the request built in writer as operation of the object at address and waits for the
  // reply, whose payload is stored in reply. Throws TRemoteException with the served
  // operation's code and text, TException when the address is invalid or the peer
  // unreachable, dead, late or speaking garbage. Does not call back into the caller.
  void Call(const std::string& address, uint16_t operation, TIpcWriter& request,
            std::string& reply);
  // Delivers operation to the object at address without waiting for an answer or for the
  // peer. Throws TException when the peer cannot be reached or its queue is full.
  void Post(const std::string& address, uint16_t operation, TIpcWriter& request);
  // Tries for at most maxWaitMs to hand every queued delivery to the kernel.
  void FlushQueues(int maxWaitMs);
  // Drops every connection and what is queued on it.
  void CloseAll();
  // What waits in the queues of every peer, in bytes, and the connections held open.
  size_t GetQueuedBytes() const;
  size_t GetConnectionCount() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Start-up and shutdown of the client; Init's result is informational only. CleanUp gives
// queued deliveries a short, bounded chance to leave, then closes every connection.
int TCIpcClient_Init(TIpcClient* client);
void TCIpcClient_CleanUp(TIpcClient* client);
// True exactly for the addresses the runtime can produce (TIpcServer::CreateObject).
bool TCIpcClient_ValidateAddress(const std::string& address);
