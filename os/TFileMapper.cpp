#include "os/TFileMapper.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <utility>

#include "base/TException.h"

TFileMapper::TFileMapper() = default;

TFileMapper::TFileMapper(const char* path) { Open(path); }

TFileMapper::~TFileMapper() { Close(); }

TFileMapper::TFileMapper(TFileMapper&& other) noexcept
    : descriptor_(std::move(other.descriptor_)),
      address_(std::exchange(other.address_, nullptr)),
      length_(std::exchange(other.length_, 0)) {}

TFileMapper& TFileMapper::operator=(TFileMapper&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::move(other.descriptor_);
    address_ = std::exchange(other.address_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

bool TFileMapper::TryOpen(const char* path) {
  Close();
  if (!path) return false;
  // O_NONBLOCK: a FIFO or device given as a path must not stall the daemon in open(); it is
  // refused below as not being a regular file. The size is taken from the descriptor so that
  // it belongs to the file actually opened.
  return TryMap(TUniqueFd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
}

bool TFileMapper::TryMap(TUniqueFd descriptor) {
  Close();
  descriptor_ = std::move(descriptor);
  if (!descriptor_.IsValid()) return false;
  struct stat status {};
  if (::fstat(descriptor_.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  // An empty file has nothing to map; the length is kept in 32 bits.
  if (status.st_size <= 0 ||
      static_cast<uint64_t>(status.st_size) > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  size_t size = static_cast<size_t>(status.st_size);
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, descriptor_.Get(), 0);
  if (address == MAP_FAILED) return false;
  address_ = address;
  length_ = static_cast<uint32_t>(size);
  return true;
}

void TFileMapper::Open(const char* path) {
  if (!TryOpen(path)) ThrowOpenError(path);
}

void TFileMapper::ThrowOpenError(const char* path) const {
  // The message is bounded: a path of any length yields at most 199 characters.
  char message[200];
  std::snprintf(message, sizeof message, "Could not open file \"%s\".", path ? path : "");
  throw TVerboseException(message, 0);
}

void TFileMapper::Close() {
  if (address_) ::munmap(address_, length_);
  descriptor_.Reset();
  address_ = nullptr;
  length_ = 0;
}
