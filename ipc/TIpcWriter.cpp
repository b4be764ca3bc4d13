#include "ipc/TIpcWriter.h"

#include "base/TException.h"

void TIpcWriter::PutUint32(uint32_t value) {
  const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 8), static_cast<char>(value)};
  buffer_.append(bytes, 4);
}

void TIpcWriter::PutCount(size_t count) {
  if (count > TIpcFrame::kMaxListElements) {
    throw TException("IPC list of " + std::to_string(count) + " elements exceeds the limit");
  }
  PutUint32(static_cast<uint32_t>(count));
}

void TIpcWriter::Put(bool value) { buffer_.push_back(value ? 1 : 0); }

void TIpcWriter::Put(int32_t value) { PutUint32(static_cast<uint32_t>(value)); }

void TIpcWriter::Put(uint16_t value) {
  const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value)};
  buffer_.append(bytes, 2);
}

void TIpcWriter::Put(const std::string& value) {
  if (value.size() > TIpcFrame::kMaxFrameBody) throw TException("IPC string too long for a frame");
  PutUint32(static_cast<uint32_t>(value.size()));
  buffer_.append(value);
}

std::string& TIpcWriter::Finish(TIpcFrameKind kind, uint16_t operation, uint32_t callId,
                                uint32_t objectId) {
  TIpcFrame::PatchHeader(buffer_, kind, operation, callId, objectId);
  return buffer_;
}
