// Decodes a frame payload written by TIpcWriter, strictly: every read is bounds-checked, a
// bool must be 0 or 1, and a list count is checked against the bytes left before anything is
// allocated, so a hostile count cannot make the reader allocate more than the frame holds.
// Types the reader does not know are decoded by their TIpcCodec. Any violation throws
// TIpcProtocolError. Reads from a buffer it does not own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "ipc/TIpcCodec.h"

class TIpcReader final {
 public:
  TIpcReader(const char* data, size_t size) : data_(data), size_(size) {}

  void Get(bool& value);
  void Get(int32_t& value);
  void Get(uint16_t& value);
  void Get(std::string& value);
  template <typename T>
  void Get(std::vector<T>& values) {
    const size_t count = GetCount(MinimumSize<T>());
    values.clear();
    values.resize(count);
    for (T& value : values) Get(value);
  }
  // Any other type: its TIpcCodec specialisation.
  template <typename T>
  void Get(T& value) {
    TIpcCodec<T>::Decode(*this, value);
  }

  // Throws TIpcProtocolError unless every byte was consumed.
  void ExpectEnd() const;
  size_t Remaining() const { return size_ - offset_; }

 private:
  template <typename T>
  struct TIsList : std::false_type {};
  template <typename T>
  struct TIsList<std::vector<T>> : std::true_type {};

  // The fewest bytes one element of a list can take.
  template <typename T>
  static constexpr size_t MinimumSize() {
    if constexpr (std::is_same_v<T, bool>) {
      return 1;
    } else if constexpr (std::is_same_v<T, uint16_t>) {
      return 2;
    } else if constexpr (std::is_same_v<T, int32_t> || std::is_same_v<T, std::string> ||
                         TIsList<T>::value) {
      return 4;
    } else {
      static_assert(TIpcCodec<T>::kMinimumSize > 0, "an encoded value takes at least a byte");
      return TIpcCodec<T>::kMinimumSize;
    }
  }
  uint32_t GetUint32();
  size_t GetCount(size_t minimumElementSize);
  const char* Take(size_t size);

  const char* data_;
  size_t size_;
  size_t offset_ = 0;
};
