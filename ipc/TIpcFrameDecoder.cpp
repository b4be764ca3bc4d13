#include "ipc/TIpcFrameDecoder.h"

#include <algorithm>
#include <cstring>

#include "ipc/TIpcProtocolError.h"

namespace {

uint32_t GetBigEndian(const char* in, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<uint8_t>(in[i]);
  return value;
}

}  // namespace

void TIpcFrameDecoder::Append(const char* data, size_t size) {
  Compact();
  const size_t wanted = buffer_.size() + size;
  if (wanted > buffer_.capacity()) {
    // Grows with what arrives (a header alone reserves nothing), but never past the frame
    // being received, so a frame at the limit does not double into twice the limit.
    size_t target = std::max(wanted, 2 * buffer_.capacity());
    if (pendingFrameSize_ && wanted <= pendingFrameSize_) {
      target = std::min(target, pendingFrameSize_);
    }
    buffer_.reserve(target);
  }
  buffer_.append(data, size);
}

void TIpcFrameDecoder::Compact() {
  if (start_ == 0) return;
  if (start_ == buffer_.size()) {
    buffer_.clear();
  } else {
    buffer_.erase(0, start_);
  }
  start_ = 0;
}

void TIpcFrameDecoder::CheckHeader() const {
  const size_t available = buffer_.size() - start_;
  const char* p = buffer_.data() + start_;
  const uint32_t length = GetBigEndian(p, 4);
  if (length < TIpcFrame::kHeaderSize) {
    throw TIpcProtocolError("frame length " + std::to_string(length) + " below the header size");
  }
  if (length > TIpcFrame::kMaxFrameBody) {
    throw TIpcProtocolError("frame length " + std::to_string(length) + " above the limit");
  }
  if (available < TIpcFrame::kLengthSize + TIpcFrame::kHeaderSize) return;
  if (static_cast<uint8_t>(p[4]) != TIpcFrame::kIpcVersion) {
    throw TIpcProtocolError("unknown version " + std::to_string(static_cast<uint8_t>(p[4])));
  }
  const uint8_t kind = static_cast<uint8_t>(p[5]);
  const uint32_t operation = GetBigEndian(p + 6, 2);
  const uint32_t callId = GetBigEndian(p + 8, 4);
  const uint32_t objectId = GetBigEndian(p + 12, 4);
  switch (static_cast<TIpcFrameKind>(kind)) {
    case TIpcFrameKind::eCall:
      if (operation == 0 || objectId == 0) throw TIpcProtocolError("call without target");
      break;
    case TIpcFrameKind::eOneWay:
      if (operation == 0 || objectId == 0 || callId != 0) {
        throw TIpcProtocolError("malformed one-way header");
      }
      break;
    case TIpcFrameKind::eReply:
    case TIpcFrameKind::eError:
      if (operation != 0 || objectId != 0) throw TIpcProtocolError("malformed reply header");
      break;
    default:
      throw TIpcProtocolError("unknown frame kind " + std::to_string(kind));
  }
}

bool TIpcFrameDecoder::Next(TIpcFrame& frame) {
  const size_t available = buffer_.size() - start_;
  if (available < TIpcFrame::kLengthSize) return false;
  CheckHeader();
  const char* p = buffer_.data() + start_;
  const uint32_t length = GetBigEndian(p, 4);
  if (available < TIpcFrame::kLengthSize + length) {
    pendingFrameSize_ = TIpcFrame::kLengthSize + length;
    return false;
  }
  pendingFrameSize_ = 0;
  frame.kind = static_cast<TIpcFrameKind>(p[5]);
  frame.operation = static_cast<uint16_t>(GetBigEndian(p + 6, 2));
  frame.callId = GetBigEndian(p + 8, 4);
  frame.objectId = GetBigEndian(p + 12, 4);
  frame.payload = p + TIpcFrame::kLengthSize + TIpcFrame::kHeaderSize;
  frame.payloadSize = length - TIpcFrame::kHeaderSize;
  start_ += TIpcFrame::kLengthSize + length;
  return true;
}
