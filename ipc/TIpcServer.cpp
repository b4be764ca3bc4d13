#include "ipc/TIpcServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "base/TTracker.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcDispatcher.h"
#include "ipc/TIpcFrameDecoder.h"
#include "ipc/TIpcOutputQueue.h"
#include "ipc/TIpcProtocolError.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"
#include "ipc/TPeerCredentials.h"
#include "os/IIOEventLoop.h"
#include "os/RootPath.h"
#include "os/TUniqueFd.h"

namespace {

const char kRuntimeDirectory[] = "/tmp/infoservice-ipc";
constexpr size_t kReadChunk = 64 * 1024;
constexpr int kAcceptsPerEvent = 64;
// While accept fails, the listening socket is not watched (it stays readable, so the loop
// would spin); it is tried again after this back-off, doubled after each failure up to the
// maximum, and at once again after a success.
constexpr unsigned int kFirstBackOffMs = 50;
constexpr unsigned int kMaxBackOffMs = 1000;

// Failures that a descriptor or some memory freed elsewhere will end.
bool IsExhaustion(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// The runtime directory holds every socket of the box's processes; only the owner and the
// group may reach them. Missing parents are created as ordinary directories.
void MakeRuntimeDirectory(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
  }
  if (mkdir(path.c_str(), 0770) == 0) {
    chmod(path.c_str(), 0770);  // the umask may have taken the group bits away
    return;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw TException(ErrnoMessage("TIpcServer: runtime directory " + path, errno));
  }
  if (info.st_uid == geteuid() && (info.st_mode & 0777) != 0770) chmod(path.c_str(), 0770);
}

// Sockets of processes that died without removing them (s<pid>-<n>.sock whose pid no longer
// exists) would pile up in the runtime directory, which lives in RAM on the box.
void RemoveStaleSockets(const std::string& directory) {
  DIR* entries = opendir(directory.c_str());
  if (!entries) return;
  while (const dirent* entry = readdir(entries)) {
    int pid = 0;
    unsigned number = 0;
    char end = 0;
    if (std::sscanf(entry->d_name, "s%d-%u.soc%c", &pid, &number, &end) != 3 || end != 'k' ||
        pid <= 0 || pid == getpid()) {
      continue;
    }
    if (kill(pid, 0) != 0 && errno == ESRCH) unlink((directory + "/" + entry->d_name).c_str());
  }
  closedir(entries);
}

std::string NewSocketPath() {
  static std::atomic<unsigned> counter{0};
  return RootPath(kRuntimeDirectory) + "/s" + std::to_string(getpid()) + "-" +
         std::to_string(++counter) + ".sock";
}

}  // namespace

// The inside of the server: the listening socket, the connections accepted on it and the
// table from object number to dispatcher.
struct TIpcServer::TImpl final : public IIOEventHandler, public IIOTimeoutHandler {
  explicit TImpl(IIOEventLoop& loop);
  ~TImpl() override;

  std::string CreateObject();
  uint32_t AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher);
  void RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher);

  // IIOEventHandler
  void HandleEvent(int descriptor, unsigned int events) override;
  // IIOTimeoutHandler
  void HandleTimeout(int identifier) override;

  IIOEventLoop& loop;
  std::string socketPath;
  size_t maxPerPeer = kMaxConnectionsPerPeer;
  const TPeerCredentials* caller = nullptr;  // while a call is dispatched

 private:
  struct TConnection;

  void AcceptConnections();
  void AcceptFailed(int error);
  void BackOff();
  void RefuseWaiting();
  void AcceptWorksAgain();
  bool ReadAndServe(TConnection& connection);
  bool ServeFrame(TConnection& connection, const TIpcFrame& frame);
  bool SendFrame(TConnection& connection, const std::string& frame);
  bool SendError(TConnection& connection, uint32_t callId, uint16_t code, const std::string& text);
  bool FlushReplies(TConnection& connection);
  void CloseConnection(int descriptor);
  bool AdmitPeer(const TPeerCredentials& peer);
  void ReleasePeer(uid_t uid);

  TUniqueFd listener_;
  // Held spare for the moment the descriptor limit is reached: closed, it lets one waiting
  // client be accepted and closed at once, so that the client sees the refusal instead of
  // waiting in the backlog until its call times out.
  TUniqueFd reserve_;
  // The back-off of the current episode of failing accepts (0: none), its timeout, and what
  // the episode counted so far.
  unsigned int backOffMs_ = 0;
  int backOffTimeout_ = -1;
  unsigned long acceptFailures_ = 0;
  unsigned long refused_ = 0;
  uint32_t nextObjectId_ = 1;
  std::unordered_map<uint32_t, TIpcDispatcher*> dispatchers_;
  std::unordered_map<int, std::unique_ptr<TConnection>> connections_;
  TIpcWriter writer_;
  bool refusalTraced_ = false;
  // Per-user connection counts, and the users whose refusal was traced in the current episode
  // (it ends when one of their connections closes).
  std::unordered_map<uid_t, size_t> perPeer_;
  std::unordered_set<uid_t> peerRefusalTraced_;
};

struct TIpcServer::TImpl::TConnection {
  TConnection(int fd, TPeerCredentials peer) : fd(fd), peer(std::move(peer)) {}
  TUniqueFd fd;
  TPeerCredentials peer;
  TIpcFrameDecoder decoder;
  TIpcOutputQueue replies{kMaxReplyBacklog};
  bool watchingWritable = false;
};

TIpcServer::TImpl::TImpl(IIOEventLoop& loop) : loop(loop) {
  MakeRuntimeDirectory(RootPath(kRuntimeDirectory));
  RemoveStaleSockets(RootPath(kRuntimeDirectory));
  socketPath = NewSocketPath();
  if (!TIpcAddress::IsValidSocketPath(socketPath)) {
    throw TException("TIpcServer: socket path too long or unusable: " + socketPath);
  }
  listener_.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener_.IsValid()) throw TException(ErrnoMessage("TIpcServer: socket", errno));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  unlink(socketPath.c_str());  // left behind by a dead process that had our pid
  if (bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw TException(ErrnoMessage("TIpcServer: bind " + socketPath, errno));
  }
  chmod(socketPath.c_str(), 0660);
  if (listen(listener_.Get(), 128) != 0) {
    const int error = errno;
    unlink(socketPath.c_str());
    throw TException(ErrnoMessage("TIpcServer: listen " + socketPath, error));
  }
  reserve_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
  loop.RegisterFileDescriptor(listener_.Get(), IIOEventLoop::kReadable, 0, this);
}

TIpcServer::TImpl::~TImpl() {
  for (auto& entry : connections_) loop.UnregisterFileDescriptor(entry.first);
  connections_.clear();
  loop.RemoveTimeout(backOffTimeout_);
  loop.UnregisterFileDescriptor(listener_.Get());
  unlink(socketPath.c_str());
}

std::string TIpcServer::TImpl::CreateObject() {
  if (nextObjectId_ == 0) throw TException("TIpcServer: out of object numbers");
  return TIpcAddress::Format(socketPath, nextObjectId_++);
}

uint32_t TIpcServer::TImpl::AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher) {
  TIpcAddress parsed;
  if (!TIpcAddress::Parse(address, parsed) || parsed.socketPath != socketPath ||
      parsed.objectId >= nextObjectId_) {
    throw TException("TIpcServer: '" + address + "' is not an object of this server");
  }
  if (!dispatchers_.emplace(parsed.objectId, dispatcher).second) {
    throw TException("TIpcServer: '" + address + "' is served already");
  }
  return parsed.objectId;
}

void TIpcServer::TImpl::RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher) {
  auto found = dispatchers_.find(objectId);
  if (found != dispatchers_.end() && found->second == dispatcher) dispatchers_.erase(found);
}

void TIpcServer::TImpl::HandleEvent(int descriptor, unsigned int events) {
  if (descriptor == listener_.Get()) {
    AcceptConnections();
    return;
  }
  auto found = connections_.find(descriptor);
  if (found == connections_.end()) return;
  TConnection& connection = *found->second;
  bool keep = true;
  if (events & IIOEventLoop::kWritable) keep = FlushReplies(connection);
  if (keep && (events & IIOEventLoop::kReadable)) keep = ReadAndServe(connection);
  if (!keep) CloseConnection(descriptor);
}

void TIpcServer::TImpl::AcceptConnections() {
  for (int i = 0; i < kAcceptsPerEvent; ++i) {
    TUniqueFd fd(accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.IsValid()) {
      const int error = errno;
      // Part of normal work: a signal, a client that gave up while queued, nothing left.
      if (error == EINTR || error == ECONNABORTED) continue;
      if (error != EAGAIN && error != EWOULDBLOCK) AcceptFailed(error);
      return;
    }
    if (backOffMs_ != 0) AcceptWorksAgain();
    if (connections_.size() >= kMaxConnections) {
      if (!refusalTraced_) {
        TTracker::GetProcessTracker()->Warning("TIpcServer: connection limit %zu reached",
                                               kMaxConnections);
        refusalTraced_ = true;
      }
      continue;  // fd closes here
    }
    refusalTraced_ = false;
    // Read right after accept: the kernel's record of who connected, kept for the
    // connection's life. A socket whose peer the kernel cannot name is not served.
    TPeerCredentials peer;
    if (!ReadPeerCredentials(fd.Get(), peer)) {
      TTracker::GetProcessTracker()->Error("TIpcServer: peer credentials on %s: %s",
                                           socketPath.c_str(), std::strerror(errno));
      continue;
    }
    if (!AdmitPeer(peer)) continue;  // fd closes here
    const int descriptor = fd.Get();
    auto connection = std::make_unique<TConnection>(fd.Release(), std::move(peer));
    loop.RegisterFileDescriptor(descriptor, IIOEventLoop::kReadable, 0, this);
    connections_[descriptor] = std::move(connection);
  }
}

// One trace per episode, at its start; the listening socket rests for the back-off.
void TIpcServer::TImpl::AcceptFailed(int error) {
  if (acceptFailures_++ == 0) {
    TTracker::GetProcessTracker()->Error("TIpcServer: accept on %s: %s", socketPath.c_str(),
                                         std::strerror(error));
  }
  if (IsExhaustion(error)) RefuseWaiting();
  BackOff();
}

void TIpcServer::TImpl::BackOff() {
  backOffMs_ = backOffMs_ == 0 ? kFirstBackOffMs : std::min(2 * backOffMs_, kMaxBackOffMs);
  loop.UnregisterFileDescriptor(listener_.Get());
  loop.RemoveTimeout(backOffTimeout_);
  backOffTimeout_ = loop.AddOneShotTimeout(backOffMs_, this);
}

// Takes the waiting clients off the backlog through the reserve descriptor, one at a time.
void TIpcServer::TImpl::RefuseWaiting() {
  for (int i = 0; i < kAcceptsPerEvent; ++i) {
    if (!reserve_.IsValid()) reserve_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!reserve_.IsValid()) return;  // somebody else took the freed descriptor
    reserve_.Reset();
    TUniqueFd refused(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int error = errno;
    const bool tookOne = refused.IsValid();
    refused.Reset();
    reserve_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (tookOne) {
      ++refused_;
    } else if (error != EINTR && error != ECONNABORTED) {
      return;
    }
  }
}

void TIpcServer::TImpl::AcceptWorksAgain() {
  TTracker::GetProcessTracker()->Warning(
      "TIpcServer: accepting on %s again after %lu failed accepts (%lu connections refused)",
      socketPath.c_str(), acceptFailures_, refused_);
  backOffMs_ = 0;
  acceptFailures_ = 0;
  refused_ = 0;
  if (!reserve_.IsValid()) reserve_.Reset(open("/dev/null", O_RDONLY | O_CLOEXEC));
}

void TIpcServer::TImpl::HandleTimeout(int identifier) {
  if (identifier != backOffTimeout_) return;
  backOffTimeout_ = -1;
  try {
    loop.RegisterFileDescriptor(listener_.Get(), IIOEventLoop::kReadable, 0, this);
  } catch (const TException& error) {
    // Short of kernel memory as well: a server that stopped watching its socket for good
    // would never serve again.
    TTracker::GetProcessTracker()->Error("TIpcServer: %s", error.GetText());
    BackOff();
    return;
  }
  AcceptConnections();
}

// Root and the daemon's own user are the box's management: bounding them could lock it out.
bool TIpcServer::TImpl::AdmitPeer(const TPeerCredentials& peer) {
  if (peer.uid == 0 || peer.uid == geteuid()) return true;
  size_t& count = perPeer_[peer.uid];
  if (count >= maxPerPeer) {
    if (peerRefusalTraced_.insert(peer.uid).second) {
      TTracker::GetProcessTracker()->Warning(
          "TIpcServer: uid %u holds %zu connections; refusing more (pid %d)",
          static_cast<unsigned>(peer.uid), count, static_cast<int>(peer.pid));
    }
    return false;
  }
  ++count;
  return true;
}

void TIpcServer::TImpl::ReleasePeer(uid_t uid) {
  auto found = perPeer_.find(uid);
  if (found == perPeer_.end()) return;
  if (--found->second == 0) perPeer_.erase(found);
  peerRefusalTraced_.erase(uid);
}

bool TIpcServer::TImpl::ReadAndServe(TConnection& connection) {
  char chunk[kReadChunk];
  const ssize_t got = recv(connection.fd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
  if (got == 0) {
    if (connection.decoder.Buffered() > 0) {
      TTracker::GetProcessTracker()->Warning(
          "TIpcServer: connection %d closed within a frame (%zu bytes dropped)",
          connection.fd.Get(), connection.decoder.Buffered());
    }
    return false;
  }
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  connection.decoder.Append(chunk, static_cast<size_t>(got));
  TIpcFrame frame;
  try {
    while (connection.decoder.Next(frame)) {
      if (!ServeFrame(connection, frame)) return false;
    }
  } catch (const TIpcProtocolError& error) {
    TTracker::GetProcessTracker()->Warning("TIpcServer: closing connection %d: %s",
                                           connection.fd.Get(), error.GetText());
    return false;
  }
  return true;
}

bool TIpcServer::TImpl::ServeFrame(TConnection& connection, const TIpcFrame& frame) {
  if (frame.kind != TIpcFrameKind::eCall && frame.kind != TIpcFrameKind::eOneWay) {
    throw TIpcProtocolError("reply sent to a server");
  }
  const bool answer = frame.kind == TIpcFrameKind::eCall;
  auto found = dispatchers_.find(frame.objectId);
  if (found == dispatchers_.end()) {
    return !answer || SendError(connection, frame.callId, kNoSuchObject, "No such object");
  }
  TIpcReader reader(frame.payload, frame.payloadSize);
  writer_.Clear();
  // The caller is known for exactly the time of its dispatch.
  struct TCallerScope {
    TCallerScope(const TPeerCredentials*& slot, const TPeerCredentials& peer) : slot(slot) {
      slot = &peer;
    }
    ~TCallerScope() { slot = nullptr; }
    const TPeerCredentials*& slot;
  } callerScope(caller, connection.peer);
  try {
    if (!found->second->Dispatch(frame.operation, reader, writer_)) {
      return !answer || SendError(connection, frame.callId, kNoSuchOperation, "No such operation");
    }
  } catch (const TIpcProtocolError&) {
    throw;
  } catch (const TDispatchableException& error) {
    return !answer || SendError(connection, frame.callId, error.GetCode(), error.GetText());
  } catch (const std::exception& error) {
    TTracker::GetProcessTracker()->Error("TIpcServer: operation %u of object %u failed: %s",
                                         frame.operation, frame.objectId, error.what());
    return !answer || SendError(connection, frame.callId, kInternalError, "Internal error");
  } catch (...) {
    TTracker::GetProcessTracker()->Error("TIpcServer: operation %u of object %u failed",
                                         frame.operation, frame.objectId);
    return !answer || SendError(connection, frame.callId, kInternalError, "Internal error");
  }
  if (!answer) return true;
  try {
    return SendFrame(connection, writer_.Finish(TIpcFrameKind::eReply, 0, frame.callId, 0));
  } catch (const TException& error) {  // results beyond the frame limit
    TTracker::GetProcessTracker()->Error("TIpcServer: reply to operation %u: %s", frame.operation,
                                         error.GetText());
    return SendError(connection, frame.callId, kInternalError, "Reply too large");
  }
}

bool TIpcServer::TImpl::SendError(TConnection& connection, uint32_t callId, uint16_t code,
                                  const std::string& text) {
  writer_.Clear();
  writer_.Put(code);
  // An error text never needs more than a line or two; a huge one is cut to fit.
  writer_.Put(text.size() > 4096 ? text.substr(0, 4096) : text);
  return SendFrame(connection, writer_.Finish(TIpcFrameKind::eError, 0, callId, 0));
}

bool TIpcServer::TImpl::SendFrame(TConnection& connection, const std::string& frame) {
  switch (connection.replies.Send(connection.fd.Get(), frame)) {
    case TIpcOutputQueue::TResult::kSent:
      return true;
    case TIpcOutputQueue::TResult::kBroken:
      return false;
    case TIpcOutputQueue::TResult::kOverLimit:
      TTracker::GetProcessTracker()->Warning("TIpcServer: closing connection %d: replies not read",
                                             connection.fd.Get());
      return false;
    case TIpcOutputQueue::TResult::kQueued:
      break;
  }
  if (!connection.watchingWritable) {
    loop.RegisterFileDescriptor(connection.fd.Get(),
                                IIOEventLoop::kReadable | IIOEventLoop::kWritable, 0, this);
    connection.watchingWritable = true;
  }
  return true;
}

bool TIpcServer::TImpl::FlushReplies(TConnection& connection) {
  switch (connection.replies.Flush(connection.fd.Get())) {
    case TIpcOutputQueue::TResult::kBroken:
      return false;
    case TIpcOutputQueue::TResult::kQueued:
      return true;
    default:
      break;
  }
  if (connection.watchingWritable) {
    loop.RegisterFileDescriptor(connection.fd.Get(), IIOEventLoop::kReadable, 0, this);
    connection.watchingWritable = false;
  }
  return true;
}

void TIpcServer::TImpl::CloseConnection(int descriptor) {
  loop.UnregisterFileDescriptor(descriptor);
  auto found = connections_.find(descriptor);
  if (found == connections_.end()) return;
  ReleasePeer(found->second->peer.uid);
  connections_.erase(found);
}

TIpcServer::TIpcServer(IIOEventLoop& loop) : impl_(std::make_unique<TImpl>(loop)) {}
TIpcServer::~TIpcServer() = default;

std::string TIpcServer::CreateObject() { return impl_->CreateObject(); }

uint32_t TIpcServer::AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher) {
  return impl_->AddDispatcher(address, dispatcher);
}

void TIpcServer::RemoveDispatcher(uint32_t objectId, TIpcDispatcher* dispatcher) {
  impl_->RemoveDispatcher(objectId, dispatcher);
}

const TPeerCredentials* TIpcServer::GetCallerCredentials() const { return impl_->caller; }

void TIpcServer::SetMaxConnectionsPerPeer(size_t maximum) {
  impl_->maxPerPeer = maximum < 1 ? 1 : maximum;
}

const std::string& TIpcServer::GetSocketPath() const { return impl_->socketPath; }
