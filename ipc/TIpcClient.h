// The IPC client of a process: the connections it keeps to the peers it calls, reused across
// calls, and the call timeout. Callers (TIpcCaller and its branches) are built from a client
// and a peer address. Not thread-safe: one thread per client.
#pragma once

#include <memory>
#include <string>

class TIpcClient final {
 public:
  TIpcClient();
  ~TIpcClient();
  TIpcClient(const TIpcClient&) = delete;
  TIpcClient& operator=(const TIpcClient&) = delete;

  // How long a call waits for its peer (default kDefaultCallTimeoutMs). A call that gets no
  // reply in time throws TException and drops the connection; a peer trickling bytes can
  // stretch a call to at most twice the timeout.
  static constexpr int kDefaultCallTimeoutMs = 5000;
  void SetCallTimeoutMs(int milliseconds);

  struct TImpl;
  TImpl& GetImpl() { return *impl_; }

 private:
  std::unique_ptr<TImpl> impl_;
};

// Start-up and shutdown of the client; Init's result is informational only.
int TCIpcClient_Init(TIpcClient* client);
void TCIpcClient_CleanUp(TIpcClient* client);
// True exactly for the addresses the runtime can produce (TIpcServer::CreateObject).
bool TCIpcClient_ValidateAddress(const std::string& address);
