// One parameter file of a /proc parameter directory ("<directory>/<name>"), read whole into a
// value of at most 1023 bytes. The content is kept as it is: no white space or line end is
// trimmed, so a parameter written with a line feed keeps it. Used on the loop thread.
#pragma once

#include <string>

#include "adapters/TProcFile.h"

class TSingleProcFileValue final : public TProcFile {
 public:
  // The longest path that is opened. A longer one is refused with a trace rather than cut,
  // since a cut path would name a different file.
  static constexpr size_t kMaxPathLength = 127;
  // The value buffer, terminator included: a file of this size or more is not read.
  static constexpr unsigned int kValueSize = 1024;

  // Keeps both texts; reads nothing.
  TSingleProcFileValue(const std::string& directory, const std::string& name);

  // Opens "<directory>/<name>" read-only and reads it whole. False when the path is too long
  // (traced), the file cannot be opened or read, or holds 1024 bytes or more; the value is
  // empty then.
  bool Read();
  // The content of the last successful Read, up to its first zero byte.
  const char* GetValue() const { return value_; }

 private:
  std::string directory_;
  std::string name_;
  char value_[kValueSize] = {};
};
