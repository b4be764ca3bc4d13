#include "adapters/TIalFileAdapter.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/TException.h"
#include "os/TAtomicFile.h"
#include "os/TFileMapper.h"
#include "service/IInformationAdapterCallback.h"

namespace {

constexpr mode_t kFileMode = 0666;
constexpr mode_t kDirectoryMode = 0777;

struct TDirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

TIalFileAdapter::TIalFileAdapter(const std::string& directory,
                                 const std::vector<std::string>& prefixes, TStorageType storageType)
    : directory_(directory), prefixes_(prefixes), storageType_(storageType) {}

TIalFileAdapter::~TIalFileAdapter() = default;

void TIalFileAdapter::CheckFileName(const std::string& name) {
  const char* reason = nullptr;
  if (name.empty() || name == "." || name == "..") {
    reason = "is not a file name";
  } else if (name.find('/') != std::string::npos) {
    reason = "holds a \"/\"";
  } else if (name.find('\0') != std::string::npos) {
    reason = "holds a NUL byte";
  } else if (name.size() > NAME_MAX) {
    reason = "is longer than a file name may be (255 bytes)";
  }
  if (reason) {
    throw TUnknownObjectException(std::string("TIalFileAdapter: The object name ") + reason +
                                  "; objects of this family are kept in files named as the "
                                  "object.");
  }
}

void TIalFileAdapter::InitializeObjects() {
  std::unique_ptr<DIR, TDirectoryCloser> directory(::opendir(directory_.c_str()));
  if (!directory) return;
  while (const dirent* entry = ::readdir(directory.get())) {
    const std::string name(entry->d_name);
    if (SupportsObject(name)) objects_[name] = directory_ + name;
  }
}

bool TIalFileAdapter::ReadFile(const std::string& path, std::string& content) {
  TFileMapper mapper;
  if (mapper.TryOpen(path.c_str())) {
    content.assign(mapper.GetData(), mapper.GetLength());
    return true;
  }
  // The mapper refuses a file of zero length; that is the empty value, not a missing file.
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0) {
    content.clear();
    return true;
  }
  return false;
}

bool TIalFileAdapter::GetObject(const std::string& name, std::string& value) const {
  const auto found = objects_.find(name);
  if (found == objects_.end()) return false;
  if (!ReadFile(found->second, value)) {
    // Removed or made unreadable behind the daemon's back: the client hears of it, the
    // daemon keeps serving.
    const std::string message = "TIalFileAdapter::GetObject():Failed to open file " + found->second;
    tracker_->Trace("%s", message.c_str());
    throw TFileException(message);
  }
  return true;
}

bool TIalFileAdapter::GetObjectToFile(const std::string& name, const std::string& fileName) const {
  const auto found = objects_.find(name);
  if (found == objects_.end()) {
    tracker_->Trace("TIalFileAdapter::GetObjectToFile(): No object by that name.");
    return false;
  }
  std::string content;
  if (!ReadFile(found->second, content)) {
    const std::string message = "TIalFileAdapter::CopyFile():Failed to open file " + found->second;
    tracker_->Trace("%s", message.c_str());
    throw TFileException(message);
  }
  WriteValueToFile(content, fileName, "TIalFileAdapter::CopyFile()",
                   "Failed to open file for writing.");
  return true;
}

bool TIalFileAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == storageType_;
}

bool TIalFileAdapter::SupportsObject(const std::string& name) const {
  for (const std::string& prefix : prefixes_) {
    if (name.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

void TIalFileAdapter::SetObject(const std::string& name, const std::string& value) {
  CheckFileName(name);
  const std::string path = directory_ + name;
  Store(name, path, WriteFileIfNotEqual(path, value.data(), value.size(), TSource::kValue));
}

void TIalFileAdapter::SetObjectFromFile(const std::string& name, const std::string& fileName) {
  CheckFileName(name);
  TFileMapper source;
  if (!source.TryMap(OpenClientFile(fileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC))) {
    const std::string message = "Failed to open source file " + fileName;
    tracker_->Trace("%s", message.c_str());
    throw TFileException("TIalFileAdapter::CopyFileIfNotEqual(): " + message);
  }
  const std::string path = directory_ + name;
  Store(name, path,
        WriteFileIfNotEqual(path, source.GetData(), source.GetLength(), TSource::kFile));
}

void TIalFileAdapter::UnsetObject(const std::string& name) {
  const auto found = objects_.find(name);
  if (found == objects_.end()) return;
  TAtomicFile::Remove(found->second);
  objects_.erase(found);
  if (callback_) callback_->OnUnsetObject(this, name);
}

void TIalFileAdapter::Store(const std::string& name, const std::string& path, bool written) {
  // A file that already held the value but was not in the map (made behind the daemon's
  // back since start-up) becomes an object too.
  if (!written && objects_.count(name)) return;
  objects_[name] = path;
  if (callback_) callback_->OnSetObject(this, name);
}

void TIalFileAdapter::EnsureDirectory() const {
  struct stat status {};
  if (::stat(directory_.c_str(), &status) == 0) return;
  if (::mkdir(directory_.c_str(), kDirectoryMode) == 0 || errno == EEXIST) return;
  const std::string message = ErrnoMessage("Cannot create directory " + directory_, errno);
  tracker_->Error("TIalFileAdapter: %s", message.c_str());
  throw TFileException("TIalFileAdapter: " + message);
}

bool TIalFileAdapter::WriteFileIfNotEqual(const std::string& path, const char* data, size_t length,
                                          TSource source) const {
  std::string current;
  if (ReadFile(path, current)) {
    if (current.size() == length &&
        (length == 0 || std::memcmp(current.data(), data, length) == 0)) {
      return false;
    }
  } else if (source == TSource::kFile) {
    tracker_->Trace(
        "TIalFileAdapter::CopyFileIfNotEqual(): Failed to open destination file %s (file will "
        "be created)",
        path.c_str());
  } else {
    tracker_->Trace("TIalFileAdapter: Failed to open file %s", path.c_str());
  }
  EnsureDirectory();
  try {
    TAtomicFile::Replace(path, data, length, kFileMode);
  } catch (const TException& failure) {
    tracker_->Error("TIalFileAdapter: %s", failure.GetText());
    throw TFileException(std::string("TIalFileAdapter: ") + failure.GetText());
  }
  return true;
}
