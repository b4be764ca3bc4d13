#include "ipc/TIpcFrame.h"

#include "base/TException.h"

namespace {

void PutBigEndian(char* out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<char>(value & 0xff);
    value >>= 8;
  }
}

void WriteHeader(char* out, TIpcFrameKind kind, uint16_t operation, uint32_t callId,
                 uint32_t objectId, size_t payloadSize) {
  if (payloadSize > TIpcFrame::kMaxFrameBody - TIpcFrame::kHeaderSize) {
    throw TException("IPC message of " + std::to_string(payloadSize) +
                     " bytes exceeds the frame limit");
  }
  PutBigEndian(out, TIpcFrame::kHeaderSize + payloadSize, 4);
  out[4] = static_cast<char>(TIpcFrame::kIpcVersion);
  out[5] = static_cast<char>(kind);
  PutBigEndian(out + 6, operation, 2);
  PutBigEndian(out + 8, callId, 4);
  PutBigEndian(out + 12, objectId, 4);
}

}  // namespace

void TIpcFrame::AppendHeader(std::string& out, TIpcFrameKind kind, uint16_t operation,
                             uint32_t callId, uint32_t objectId, size_t payloadSize) {
  char header[kLengthSize + kHeaderSize];
  WriteHeader(header, kind, operation, callId, objectId, payloadSize);
  out.append(header, sizeof header);
}

void TIpcFrame::PatchHeader(std::string& out, TIpcFrameKind kind, uint16_t operation,
                            uint32_t callId, uint32_t objectId) {
  WriteHeader(&out[0], kind, operation, callId, objectId, out.size() - kLengthSize - kHeaderSize);
}
