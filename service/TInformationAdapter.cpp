#include "service/TInformationAdapter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/TException.h"
#include "os/TFileMapper.h"

namespace {

std::string OpenFailureMessage(const std::string& fileName) {
  return "Failed to open file '" + fileName + "'.";
}

// Closes the descriptor on every way out of GetObjectToFile.
class TDescriptor final {
 public:
  explicit TDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~TDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return descriptor_; }

 private:
  int descriptor_;
};

// Writes all of value; false on any error. A short write is continued rather than taken as
// the end, so a value is never cut silently.
bool WriteAll(int descriptor, const std::string& value) {
  const char* data = value.data();
  size_t left = value.size();
  while (left > 0) {
    ssize_t written = ::write(descriptor, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
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

bool TInformationAdapter::GetObjectToFile(const std::string& name,
                                          const std::string& fileName) const {
  std::string value;
  if (!GetObject(name, value)) return false;
  // The client names a file that must already exist: the service never creates files on a
  // client's behalf. O_NONBLOCK keeps a FIFO without a reader from stalling the loop thread
  // (open then fails with ENXIO).
  TDescriptor file(::open(fileName.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
  if (file.Get() < 0) {
    std::string message = OpenFailureMessage(fileName);
    tracker_->Error("TInformationAdapter::GetObjectToFile(): %s", message.c_str());
    throw TFileException(message);
  }
  if (!WriteAll(file.Get(), value)) {
    tracker_->Error("TInformationAdapter::GetObjectToFile(): Failed to write to file.");
    throw TFileException("Failed to write to file.");
  }
  return true;
}

bool TInformationAdapter::IsStorageType(TStorageType) const { return false; }

bool TInformationAdapter::SupportsObject(const std::string&) const { return true; }

void TInformationAdapter::SetObject(const std::string&, const std::string&) {}

void TInformationAdapter::SetObjectFromFile(const std::string& name, const std::string& fileName) {
  std::string content;
  try {
    TFileMapper mapper(fileName.c_str());
    content.assign(mapper.GetData(), mapper.GetLength());
  } catch (const TException&) {
    // The mapper's own text is dropped: the client is told which of its files failed.
    std::string message = OpenFailureMessage(fileName);
    tracker_->Error("TInformationAdapter: %s", message.c_str());
    throw TFileException(message);
  }
  SetObject(name, content);
}

void TInformationAdapter::UnsetObject(const std::string&) {}

void TInformationAdapter::EnumerateObjects() const {
  if (!callback_) return;
  for (const auto& object : objects_) callback_->OnEnumerateObject(this, object.first);
}

void TInformationAdapter::FetchObjects() {}
