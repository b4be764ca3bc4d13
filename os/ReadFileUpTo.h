// The one helper that reads a file whole, up to a bound, for the small files of the box
// (/proc parameters, the kernel command line, the HAL's files, the Infocast address file).
// Every caller names its bound, so no file can make the daemon allocate past it.
#pragma once

#include <cstddef>
#include <string>

enum class TFileRead {
  kWhole,       // content holds the whole file
  kCut,         // the file is longer than the bound; content holds its first `limit` bytes
  kOpenFailed,  // errno as open(2) left it
  kReadFailed,  // errno as read(2) left it; content holds what was read
};

// Reads the file at path into content (replaced), at most limit bytes. The file is opened
// non-blocking, so that a FIFO put under that name cannot hold the loop (it reads as empty);
// EINTR is retried a bounded number of times.
TFileRead ReadFileUpTo(const std::string& path, size_t limit, std::string& content);
