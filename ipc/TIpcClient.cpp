#include "ipc/TIpcClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "base/TException.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcFrameDecoder.h"
#include "ipc/TIpcOutputQueue.h"
#include "ipc/TIpcProtocolError.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"
#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "os/TUniqueFd.h"

namespace {

constexpr size_t kReadChunk = 64 * 1024;

int64_t NowMs() { return IClock::System().MonotonicMs(); }

void SetTimeouts(int fd, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

struct TIpcClient::TImpl final {
  static constexpr size_t kMaxPeers = 1024;
  class TPeer;

  explicit TImpl(IIOEventLoop* loop) : loop(loop) {}

  TPeer& GetPeer(const std::string& socketPath, const std::string& address, int64_t deadlineMs,
                 bool mayWait);

  IIOEventLoop* const loop;  // not owned; nullptr: queues drain on use only
  int timeoutMs = kDefaultCallTimeoutMs;
  std::map<std::string, std::unique_ptr<TPeer>> peers;
  uint32_t nextCallId = 1;
  size_t hangUps = 0;  // peers closed by their hang-up since the last sweep
};

// One connection to a peer's socket. The socket blocks (with kernel timeouts) for calls;
// one-way sends pass MSG_DONTWAIT. As an event handler on the client's loop it drains its
// queue when the socket becomes writable, and it notices when the peer goes away between
// uses: a subscriber that unsubscribed and ended is never called again, and without this its
// connection would hold a descriptor for the rest of the process's life (a daemon that runs
// for years would run out of them). Between calls nothing may arrive on a client connection,
// so readable means the peer closed it or speaks garbage: either way it is closed.
class TIpcClient::TImpl::TPeer final : public IIOEventHandler {
 public:
  // hangUps counts the peers this handler closed on a hang-up, so that the client can drop
  // their entries on its next use instead of keeping one per subscriber that ever lived.
  TPeer(TUniqueFd fd, std::string address, IIOEventLoop* loop, size_t* hangUps)
      : fd_(std::move(fd)), address_(std::move(address)), loop_(loop), hangUps_(hangUps) {
    Watch(false);
  }
  ~TPeer() override { Unwatch(); }

  bool IsBroken() const { return !fd_.IsValid(); }
  bool HasQueue() const { return !queue_.Empty(); }
  size_t QueuedBytes() const { return queue_.Size(); }
  int Fd() const { return fd_.Get(); }
  const std::string& Address() const { return address_; }
  TIpcFrameDecoder& Decoder() { return decoder_; }

  void EnsureTimeouts(int milliseconds) {
    if (timeoutMs_ == milliseconds) return;
    SetTimeouts(fd_.Get(), milliseconds);
    timeoutMs_ = milliseconds;
  }

  void Close() {
    Unwatch();
    fd_.Reset();
    queue_.Clear();
  }

  // Hands queued bytes to the kernel without waiting. False (and closed) on a dead peer.
  bool FlushQueue() {
    if (queue_.Flush(fd_.Get()) != TIpcOutputQueue::TResult::kBroken) return true;
    Close();
    return false;
  }

  // One-way delivery of a complete frame; throws TException when it must be dropped.
  void PostFrame(const std::string& frame) {
    if (!FlushQueue()) throw TException("IPC peer " + address_ + " has gone");
    switch (queue_.Send(fd_.Get(), frame)) {
      case TIpcOutputQueue::TResult::kSent:
        return;
      case TIpcOutputQueue::TResult::kQueued:
        Watch(true);
        return;
      case TIpcOutputQueue::TResult::kOverLimit:
        throw TException("IPC peer " + address_ + " is not reading; delivery dropped");
      case TIpcOutputQueue::TResult::kBroken:
        break;
    }
    const int error = errno;
    Close();
    throw TException(ErrnoMessage("IPC delivery to " + address_, error));
  }

  // Blocking send for calls, bounded by the deadline.
  void SendAll(const char* data, size_t size, int64_t deadlineMs) {
    size_t offset = 0;
    while (offset < size) {
      const ssize_t sent = send(fd_.Get(), data + offset, size - offset, MSG_NOSIGNAL);
      if (sent > 0) {
        offset += static_cast<size_t>(sent);
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      const int error = errno;
      Close();
      if (sent < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
        throw TException("IPC call to " + address_ + " timed out while sending");
      }
      throw TException(ErrnoMessage("IPC call to " + address_, error));
    }
    if (NowMs() > deadlineMs) {
      Close();
      throw TException("IPC call to " + address_ + " timed out while sending");
    }
  }

  void SendQueue(int64_t deadlineMs) {
    if (!HasQueue()) return;
    SendAll(queue_.Data(), queue_.Size(), deadlineMs);
    queue_.Clear();
    Watch(false);
  }

  // IIOEventHandler
  void HandleEvent(int /*descriptor*/, unsigned int events) override {
    if (events & IIOEventLoop::kReadable) {
      char byte;
      const ssize_t got = recv(fd_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
      if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        Close();
        ++*hangUps_;
        return;
      }
    }
    if (FlushQueue() && !HasQueue()) Watch(false);
  }

 private:
  // Always readable (the peer's hang-up); writable too while something is queued.
  void Watch(bool writable) {
    if (!loop_ || !fd_.IsValid() || (watching_ && writable == watchingWritable_)) return;
    const unsigned int mask = IIOEventLoop::kReadable | (writable ? IIOEventLoop::kWritable : 0u);
    try {
      loop_->RegisterFileDescriptor(fd_.Get(), mask, 0, this);
      watching_ = true;
      watchingWritable_ = writable;
    } catch (const TException&) {
      // Without the loop the queue still drains on the next use of this peer, and a peer that
      // went away is found out then.
    }
  }

  void Unwatch() {
    if (!watching_) return;
    loop_->UnregisterFileDescriptor(fd_.Get());
    watching_ = false;
  }

  TUniqueFd fd_;
  std::string address_;
  TIpcOutputQueue queue_{kMaxQueuedBytes};
  TIpcFrameDecoder decoder_;
  int timeoutMs_ = -1;
  IIOEventLoop* loop_;
  bool watching_ = false;
  bool watchingWritable_ = false;
  size_t* hangUps_;
};

TIpcClient::TImpl::TPeer& TIpcClient::TImpl::GetPeer(const std::string& socketPath,
                                                     const std::string& address, int64_t deadlineMs,
                                                     bool mayWait) {
  auto found = peers.find(socketPath);
  if (found != peers.end()) {
    if (!found->second->IsBroken()) return *found->second;
    peers.erase(found);
  }
  if (hangUps > 0) {
    hangUps = 0;
    for (auto it = peers.begin(); it != peers.end();) {
      it = it->second->IsBroken() ? peers.erase(it) : std::next(it);
    }
  }
  if (peers.size() >= kMaxPeers) {
    for (auto it = peers.begin(); it != peers.end();) {
      it = (it->second->IsBroken() || !it->second->HasQueue()) ? peers.erase(it) : std::next(it);
    }
  }
  TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.IsValid()) throw TException(ErrnoMessage("IPC socket for " + address, errno));
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  std::memcpy(peer.sun_path, socketPath.data(), socketPath.size());
  // Non-blocking connect: a peer whose backlog is full (a process that stopped serving)
  // refuses at once instead of holding a one-way delivery; calls retry until their deadline.
  while (connect(fd.Get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN && mayWait && NowMs() < deadlineMs) {
      poll(nullptr, 0, 5);
      continue;
    }
    throw TException(ErrnoMessage("IPC cannot reach " + address, errno));
  }
  const int flags = fcntl(fd.Get(), F_GETFL);
  fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  auto& slot = peers[socketPath];
  slot = std::make_unique<TPeer>(std::move(fd), address, loop, &hangUps);
  return *slot;
}

void TIpcClient::Call(const std::string& address, uint16_t operation, TIpcWriter& request,
                      std::string& reply) {
  TIpcAddress target;
  if (!TIpcAddress::Parse(address, target)) {
    throw TException("Invalid IPC address '" + address + "'");
  }
  const int64_t deadline = NowMs() + impl_->timeoutMs;
  TImpl::TPeer& peer = impl_->GetPeer(target.socketPath, address, deadline, true);
  peer.EnsureTimeouts(impl_->timeoutMs);
  const uint32_t callId = impl_->nextCallId++;
  if (impl_->nextCallId == 0) impl_->nextCallId = 1;
  const std::string& frame =
      request.Finish(TIpcFrameKind::eCall, operation, callId, target.objectId);
  peer.SendQueue(deadline);
  peer.SendAll(frame.data(), frame.size(), deadline);

  TIpcFrame answer;
  char chunk[kReadChunk];
  try {
    for (;;) {
      while (peer.Decoder().Next(answer)) {
        if (answer.kind != TIpcFrameKind::eReply && answer.kind != TIpcFrameKind::eError) {
          throw TIpcProtocolError("request on a client connection");
        }
        if (answer.callId != callId) continue;  // an answer to an abandoned call
        if (answer.kind == TIpcFrameKind::eReply) {
          reply.assign(answer.payload, answer.payloadSize);
          return;
        }
        TIpcReader reader(answer.payload, answer.payloadSize);
        uint16_t code = 0;
        std::string text;
        reader.Get(code);
        reader.Get(text);
        reader.ExpectEnd();
        throw TRemoteException(code, std::move(text));
      }
      const ssize_t got = recv(peer.Fd(), chunk, sizeof chunk, 0);
      if (got > 0) {
        peer.Decoder().Append(chunk, static_cast<size_t>(got));
        if (NowMs() > deadline) throw TException("IPC call to " + address + " timed out");
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) throw TException("IPC peer " + address + " closed the connection");
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        throw TException("IPC call to " + address + " timed out after " +
                         std::to_string(impl_->timeoutMs) + " ms");
      }
      throw TException(ErrnoMessage("IPC call to " + address, errno));
    }
  } catch (const TRemoteException&) {
    throw;
  } catch (const TIpcProtocolError& error) {
    peer.Close();
    throw TException(std::string(error.GetText()) + " from " + address);
  } catch (const TException&) {
    // Late bytes of this call would confuse the next one: start over with a new connection.
    peer.Close();
    throw;
  }
}

void TIpcClient::Post(const std::string& address, uint16_t operation, TIpcWriter& request) {
  TIpcAddress target;
  if (!TIpcAddress::Parse(address, target)) {
    throw TException("Invalid IPC address '" + address + "'");
  }
  TImpl::TPeer& peer = impl_->GetPeer(target.socketPath, address, 0, false);
  peer.PostFrame(request.Finish(TIpcFrameKind::eOneWay, operation, 0, target.objectId));
}

void TIpcClient::FlushQueues(int maxWaitMs) {
  const int64_t deadline = NowMs() + maxWaitMs;
  for (;;) {
    std::vector<pollfd> waiting;
    for (auto& entry : impl_->peers) {
      TImpl::TPeer& peer = *entry.second;
      if (!peer.IsBroken() && peer.FlushQueue() && peer.HasQueue()) {
        waiting.push_back(pollfd{peer.Fd(), POLLOUT, 0});
      }
    }
    const int64_t left = deadline - NowMs();
    if (waiting.empty() || left <= 0) return;
    poll(waiting.data(), waiting.size(), static_cast<int>(left));
  }
}

void TIpcClient::CloseAll() { impl_->peers.clear(); }

size_t TIpcClient::GetQueuedBytes() const {
  size_t bytes = 0;
  for (const auto& entry : impl_->peers) bytes += entry.second->QueuedBytes();
  return bytes;
}

size_t TIpcClient::GetConnectionCount() const {
  size_t count = 0;
  for (const auto& entry : impl_->peers) count += entry.second->IsBroken() ? 0 : 1;
  return count;
}

TIpcClient::TIpcClient(IIOEventLoop& loop) : impl_(std::make_unique<TImpl>(&loop)) {}
TIpcClient::TIpcClient() : impl_(std::make_unique<TImpl>(nullptr)) {}
TIpcClient::~TIpcClient() = default;

void TIpcClient::SetCallTimeoutMs(int milliseconds) {
  impl_->timeoutMs = milliseconds > 0 ? milliseconds : 1;
}

int TCIpcClient_Init(TIpcClient* /*client*/) { return 0; }

void TCIpcClient_CleanUp(TIpcClient* client) {
  if (!client) return;
  // Notifications still queued get a short, bounded chance to leave before the connections go.
  client->FlushQueues(200);
  client->CloseAll();
}

bool TCIpcClient_ValidateAddress(const std::string& address) {
  TIpcAddress parsed;
  return TIpcAddress::Parse(address, parsed);
}
