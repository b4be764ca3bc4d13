#include "adapters/TSingleProcFileValue.h"

#include <fcntl.h>

#include "base/TTracker.h"

TSingleProcFileValue::TSingleProcFileValue(const std::string& directory, const std::string& name)
    : directory_(directory), name_(name) {}

bool TSingleProcFileValue::Read() {
  value_[0] = '\0';
  const std::string path = directory_ + "/" + name_;
  if (path.size() > kMaxPathLength) {
    TTracker::GetProcessTracker()->Error(
        "TSingleProcFileValue: Path longer than %zu characters, not read: %s", kMaxPathLength,
        path.c_str());
    return false;
  }
  // Non-blocking, so that a FIFO put where a parameter file belongs cannot hold the loop.
  TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file.IsValid()) return false;
  const bool read = ReadFile(file.Get(), value_, kValueSize);
  CloseFile(file);
  if (!read) value_[0] = '\0';
  return read;
}
