#include "adapters/TProcFile.h"

#include <unistd.h>

#include <cerrno>

namespace {

// A /proc file is produced in one go; a read interrupted this often is not going to finish.
constexpr int kMaxInterruptions = 100;

}  // namespace

bool TProcFile::ReadFile(int fd, char* buffer, unsigned int size) const {
  if (size == 0) return false;
  unsigned int filled = 0;
  int interruptions = 0;
  // Each pass either ends, fails or adds at least one byte, so the loop runs at most `size`
  // times plus the bounded interruptions.
  while (filled < size) {
    const ssize_t got = ::read(fd, buffer + filled, size - filled);
    if (got < 0 && errno == EINTR && ++interruptions < kMaxInterruptions) continue;
    if (got < 0) return false;
    if (got == 0) {
      buffer[filled] = '\0';
      return true;
    }
    filled += static_cast<unsigned int>(got);
  }
  return false;
}

void TProcFile::CloseFile(TUniqueFd& file) const { file.Close(); }
