// Read-only access to the whole content of a file, mapped into memory. Owns the descriptor
// and the mapping and releases both in Close() and in the destructor. A file of zero length
// cannot be mapped and is treated like a missing one. Move-only.
#pragma once

#include <cstdint>

#include "os/TUniqueFd.h"

class TFileMapper final {
 public:
  TFileMapper();
  // Opens at once; throws TVerboseException "Could not open file \"<path>\"." (cut to 199
  // characters, code 0) when the file cannot be mapped.
  explicit TFileMapper(const char* path);
  ~TFileMapper();
  TFileMapper(TFileMapper&& other) noexcept;
  TFileMapper& operator=(TFileMapper&& other) noexcept;
  TFileMapper(const TFileMapper&) = delete;
  TFileMapper& operator=(const TFileMapper&) = delete;

  // Releases what was open, then maps the file; false when it is missing, unreadable or empty.
  bool TryOpen(const char* path);
  // Releases what was open, then maps the file open on descriptor, which it takes over
  // (opened by someone who decided with which rights); false as for TryOpen.
  bool TryMap(TUniqueFd descriptor);
  // TryOpen, throwing as the path constructor does.
  void Open(const char* path);
  [[noreturn]] void ThrowOpenError(const char* path) const;
  void Close();

  const char* GetData() const { return static_cast<const char*>(address_); }
  uint32_t GetLength() const { return length_; }

 private:
  TUniqueFd descriptor_;
  void* address_ = nullptr;
  uint32_t length_ = 0;
};
