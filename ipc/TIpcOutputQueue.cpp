#include "ipc/TIpcOutputQueue.h"

#include <sys/socket.h>

#include <cerrno>

namespace {

// What the kernel takes of data now, or -1 (errno set) when the peer has gone.
ssize_t SendNow(int descriptor, const char* data, size_t size) {
  size_t offset = 0;
  while (offset < size) {
    const ssize_t sent =
        send(descriptor, data + offset, size - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      offset += static_cast<size_t>(sent);
    } else if (errno != EINTR) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      return -1;
    }
  }
  return static_cast<ssize_t>(offset);
}

}  // namespace

TIpcOutputQueue::TResult TIpcOutputQueue::Send(int descriptor, const std::string& frame) {
  if (!Empty()) {
    if (Size() + frame.size() > limit_) return TResult::kOverLimit;
    bytes_.append(frame);
    return TResult::kQueued;
  }
  const ssize_t sent = SendNow(descriptor, frame.data(), frame.size());
  if (sent < 0) return TResult::kBroken;
  if (static_cast<size_t>(sent) == frame.size()) return TResult::kSent;
  Clear();
  bytes_.assign(frame, static_cast<size_t>(sent), std::string::npos);
  return TResult::kQueued;
}

TIpcOutputQueue::TResult TIpcOutputQueue::Flush(int descriptor) {
  const ssize_t sent = SendNow(descriptor, Data(), Size());
  if (sent < 0) return TResult::kBroken;
  offset_ += static_cast<size_t>(sent);
  if (!Empty()) return TResult::kQueued;
  Clear();
  return TResult::kSent;
}

void TIpcOutputQueue::Clear() {
  bytes_.clear();
  offset_ = 0;
}
