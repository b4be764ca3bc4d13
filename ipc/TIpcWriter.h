// Encodes values into a frame payload (docs/ipc.md): integers big-endian, a bool as one byte
// 0 or 1, a string as a 4-byte length and its bytes (NUL bytes included), a list as a 4-byte
// count and its elements; other types through their TIpcCodec. It owns the frame buffer, which
// starts with room for the frame header so that a frame is sent without copying its payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipc/TIpcCodec.h"
#include "ipc/TIpcFrame.h"

class TIpcWriter final {
 public:
  TIpcWriter() { Clear(); }

  void Put(bool value);
  void Put(int32_t value);
  void Put(uint16_t value);
  void Put(const std::string& value);
  template <typename T>
  void Put(const std::vector<T>& values) {
    PutCount(values.size());
    for (const T& value : values) Put(value);
  }
  // Any other type: its TIpcCodec specialisation.
  template <typename T>
  void Put(const T& value) {
    TIpcCodec<T>::Encode(*this, value);
  }

  // Fills in the header and returns the whole frame, ready to send. Throws TException when
  // the payload exceeds the frame limit.
  std::string& Finish(TIpcFrameKind kind, uint16_t operation, uint32_t callId, uint32_t objectId);
  size_t PayloadSize() const { return buffer_.size() - kPrefix; }
  // Starts over with an empty payload, keeping the storage.
  void Clear() { buffer_.assign(kPrefix, '\0'); }

 private:
  static constexpr size_t kPrefix = TIpcFrame::kLengthSize + TIpcFrame::kHeaderSize;
  void PutUint32(uint32_t value);
  void PutCount(size_t count);

  std::string buffer_;
};
