#include "os/ReadFileUpTo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "os/TUniqueFd.h"

namespace {

// A local file is produced in one go; a read interrupted this often is not going to finish.
constexpr int kMaxInterruptions = 100;
constexpr size_t kChunk = 4096;

}  // namespace

TFileRead ReadFileUpTo(const std::string& path, size_t limit, std::string& content) {
  content.clear();
  TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.IsValid()) return TFileRead::kOpenFailed;
  char chunk[kChunk];
  int interruptions = 0;
  // Each pass ends, fails or adds at least one byte; one byte past the bound tells a file
  // that is longer from one that ends there.
  for (;;) {
    const size_t wanted = std::min(kChunk, limit - content.size() + 1);
    const ssize_t got = ::read(file.Get(), chunk, wanted);
    if (got < 0 && errno == EINTR && ++interruptions < kMaxInterruptions) continue;
    if (got < 0) return TFileRead::kReadFailed;
    if (got == 0) return TFileRead::kWhole;
    content.append(chunk, static_cast<size_t>(got));
    if (content.size() > limit) {
      content.resize(limit);
      return TFileRead::kCut;
    }
  }
}
