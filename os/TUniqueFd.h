// Move-only owner of a file descriptor: the one place where descriptors are closed. A
// constructor taking a descriptor takes it over. The destructor and Reset close silently;
// Close() reports the result of close(2), which matters after writing a file: on NFS and on
// some flash file systems a delayed write error surfaces only there.
#pragma once

#include <unistd.h>

#include <utility>

class TUniqueFd final {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : fd_(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now: 0, or -1 with errno set when close(2) failed; 0 when nothing was open. The
  // descriptor is gone either way (Linux releases it even when close reports an error, so a
  // retry could close a descriptor opened meanwhile by someone else).
  int Close() {
    if (fd_ < 0) return 0;
    return ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};
