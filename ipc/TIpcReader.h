// Decodes a frame payload written by TIpcWriter, strictly: every read is bounds-checked, a
// bool must be 0 or 1, and a list count is checked against the bytes left before anything is
// allocated, so a hostile count cannot make the reader allocate more than the frame holds.
// Any violation throws TIpcProtocolError. Reads from a buffer it does not own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toi/IToiApplicationObserver.h"
#include "toi/IToiInformationService.h"

class TIpcReader final {
 public:
  TIpcReader(const char* data, size_t size) : data_(data), size_(size) {}

  void Get(bool& value);
  void Get(int32_t& value);
  void Get(uint16_t& value);
  void Get(IToiInformationService::TStorageType& value);
  void Get(std::string& value);
  void Get(IToiApplicationObserver::TApplicationStateInfo& value);
  template <typename T>
  void Get(std::vector<T>& values) {
    const size_t count = GetCount(MinimumSize(static_cast<T*>(nullptr)));
    values.clear();
    values.resize(count);
    for (T& value : values) Get(value);
  }

  // Throws TIpcProtocolError unless every byte was consumed.
  void ExpectEnd() const;
  size_t Remaining() const { return size_ - offset_; }

 private:
  static constexpr size_t MinimumSize(std::string*) { return 4; }
  static constexpr size_t MinimumSize(int32_t*) { return 4; }
  static constexpr size_t MinimumSize(bool*) { return 1; }
  static constexpr size_t MinimumSize(IToiInformationService::TStorageType*) { return 4; }
  static constexpr size_t MinimumSize(IToiApplicationObserver::TApplicationStateInfo*) { return 8; }
  uint32_t GetUint32();
  size_t GetCount(size_t minimumElementSize);
  const char* Take(size_t size);

  const char* data_;
  size_t size_;
  size_t offset_ = 0;
};
