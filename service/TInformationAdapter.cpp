#include "service/TInformationAdapter.h"

#include <fcntl.h>

#include "base/TException.h"
#include "os/TFileMapper.h"
#include "os/TUniqueFd.h"
#include "os/WriteAll.h"

namespace {

std::string OpenFailureMessage(const std::string& fileName) {
  return "Failed to open file '" + fileName + "'.";
}

}  // namespace

TInformationAdapter::TInformationAdapter() : tracker_(TTracker::GetProcessTracker()) {}

TInformationAdapter::~TInformationAdapter() = default;

void TInformationAdapter::SetCallback(IInformationAdapterCallback* callback) {
  callback_ = callback;
}

void TInformationAdapter::InitializeObjects() {}

bool TInformationAdapter::HasObject(const std::string& name) const {
  return objects_.find(name) != objects_.end();
}

bool TInformationAdapter::GetObject(const std::string& name, std::string& value) const {
  auto found = objects_.find(name);
  if (found == objects_.end()) return false;
  value = found->second;
  return true;
}

bool TInformationAdapter::IsComputedOnRead(const std::string&) const { return false; }

bool TInformationAdapter::GetObjectToFile(const std::string& name,
                                          const std::string& fileName) const {
  std::string value;
  if (!GetObject(name, value)) return false;
  WriteValueToFile(value, fileName, "TInformationAdapter::GetObjectToFile()",
                   OpenFailureMessage(fileName));
  return true;
}

void TInformationAdapter::WriteValueToFile(const std::string& value, const std::string& fileName,
                                           const char* context,
                                           const std::string& openFailure) const {
  // The file is the client's: it must already exist, since the service never creates files on
  // a client's behalf, and it may be anything, a FIFO or a device included. Non-blocking, a
  // FIFO without a reader fails to open (ENXIO) and one whose reader does not read fails to
  // take the rest (EAGAIN) instead of holding the loop thread; O_NOCTTY keeps a terminal from
  // becoming the daemon's.
  TUniqueFd file = OpenClientFile(fileName, O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (!file.IsValid()) {
    tracker_->Error("%s: %s", context, openFailure.c_str());
    throw TFileException(openFailure);
  }
  // A reader that has gone gives EPIPE here (the daemon ignores SIGPIPE); on NFS a failed
  // write may surface only at close.
  if (!WriteAll(file.Get(), value.data(), value.size()) || file.Close() != 0) {
    tracker_->Error("%s: Failed to write to file.", context);
    throw TFileException("Failed to write to file.");
  }
}

bool TInformationAdapter::IsStorageType(TStorageType) const { return false; }

bool TInformationAdapter::SupportsObject(const std::string&) const { return true; }

void TInformationAdapter::SetObject(const std::string&, const std::string&) {}

void TInformationAdapter::SetObjectFromFile(const std::string& name, const std::string& fileName) {
  std::string content;
  TFileMapper mapper;
  if (mapper.TryMap(OpenClientFile(fileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC))) {
    content.assign(mapper.GetData(), mapper.GetLength());
    mapper.Close();
  } else {
    // The client is told which of its files failed.
    std::string message = OpenFailureMessage(fileName);
    tracker_->Error("TInformationAdapter: %s", message.c_str());
    throw TFileException(message);
  }
  SetObject(name, content);
}

// Without a callback no client can be behind the call (requests arrive only once adapters
// are started), so the daemon's own rights apply.
TUniqueFd TInformationAdapter::OpenClientFile(const std::string& fileName, int flags) const {
  if (callback_) return callback_->OpenClientFile(fileName, flags);
  return TUniqueFd(::open(fileName.c_str(), flags));
}

void TInformationAdapter::UnsetObject(const std::string&) {}

void TInformationAdapter::EnumerateObjects() const {
  if (!callback_) return;
  for (const auto& object : objects_) callback_->OnEnumerateObject(this, object.first);
}

void TInformationAdapter::FetchObjects() {}
