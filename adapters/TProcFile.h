// Reading the small text files the kernel publishes under /proc (production parameters, user
// parameters): a file is read whole into a caller's fixed buffer, or not at all. Stateless;
// used on the loop thread during start-up.
#pragma once

#include <string>

class TProcFile {
 public:
  // Reads the file at path whole into buffer and terminates the content with a zero byte.
  // False when it cannot be opened or read, and when the content fills `size` bytes or more,
  // since the terminator would not fit: a value is never cut. An empty file gives true and an
  // empty string. Never writes past buffer[size-1].
  bool ReadFile(const std::string& path, char* buffer, unsigned int size) const;

 protected:
  TProcFile() = default;
  ~TProcFile() = default;
};
