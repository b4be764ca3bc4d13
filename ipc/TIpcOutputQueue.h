// The bytes of a connection that the kernel has not taken yet, for the one non-blocking send
// path of the IPC client (one-way deliveries) and server (replies). A frame goes straight to
// the socket when nothing waits, and what the kernel does not take waits here, behind
// earlier frames, until the owner's loop reports the socket writable and calls Flush. The
// queue is bounded: a frame that would take it past the limit is refused whole, so a peer
// that does not read cannot make the process grow. A single frame's rest is always taken,
// since it is bounded by the frame limit. Owned by its connection; runs on the loop thread.
#pragma once

#include <cstddef>
#include <string>

class TIpcOutputQueue final {
 public:
  enum class TResult {
    kSent,       // the kernel took everything, queue included
    kQueued,     // some of it waits; watch the socket for writability
    kOverLimit,  // refused whole: the queue would pass its limit
    kBroken,     // the peer has gone (errno says why); the queue is as it was
  };

  explicit TIpcOutputQueue(size_t limit) : limit_(limit) {}

  // Sends frame without waiting, behind whatever waits.
  TResult Send(int descriptor, const std::string& frame);
  // Hands waiting bytes to the kernel without waiting: kSent, kQueued or kBroken.
  TResult Flush(int descriptor);

  bool Empty() const { return bytes_.size() == offset_; }
  size_t Size() const { return bytes_.size() - offset_; }
  const char* Data() const { return bytes_.data() + offset_; }
  void Clear();

 private:
  size_t limit_;
  std::string bytes_;
  size_t offset_ = 0;
};
