#include "os/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace {

// Interruptions in a row before giving up; a signal storm must not hold the thread.
constexpr int kMaxInterruptions = 100;

}  // namespace

bool WriteAll(int descriptor, const void* data, size_t length) {
  const char* next = static_cast<const char*>(data);
  int interruptions = 0;
  // Every round writes at least one byte or fails; only EINTR repeats without progress.
  while (length > 0) {
    const ssize_t written = ::write(descriptor, next, length);
    if (written < 0) {
      if (errno == EINTR && ++interruptions < kMaxInterruptions) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    interruptions = 0;
    next += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}
