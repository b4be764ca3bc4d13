// Cuts a byte stream into IPC frames (TIpcFrame): owns the bytes received but not yet
// consumed. A header is checked as soon as its bytes are there, so an oversized or garbage
// frame is refused before its body is read; the buffer never holds more than one frame plus
// what the last read brought. Any violation throws TIpcProtocolError; the connection is then
// unusable and must be closed.
#pragma once

#include <cstddef>
#include <string>

#include "ipc/TIpcFrame.h"

class TIpcFrameDecoder final {
 public:
  // Adds received bytes; consumed frames are dropped first, so their payloads die here.
  void Append(const char* data, size_t size);
  // The next complete frame, valid until the next Append. False when more bytes
  // are needed. Throws TIpcProtocolError on a malformed header.
  bool Next(TIpcFrame& frame);
  // Bytes held that do not yet form a frame.
  size_t Buffered() const { return buffer_.size() - start_; }

 private:
  void CheckHeader() const;
  void Compact();

  std::string buffer_;
  size_t start_ = 0;
  // Size of the frame whose header has been seen but whose body is incomplete, else 0.
  size_t pendingFrameSize_ = 0;
};
