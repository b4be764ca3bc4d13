#include "adapters/TSingleProcFileValue.h"

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
  const bool read = ReadFile(path, value_, kValueSize);
  if (!read) value_[0] = '\0';
  return read;
}
