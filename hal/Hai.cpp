#include "hal/Hai.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/TException.h"
#include "base/TTracker.h"
#include "os/ReadFileUpTo.h"
#include "os/RootPath.h"
#include "os/TAtomicFile.h"

struct THaiResource {
  enum class TKind { eFlash, eFirmware } kind;
};

namespace {

const char kFlashImage[] = "/var/hal/flash.img";
const char kSystemInfo[] = "/var/hal/systeminfo";
const char kFirmwareVersion[] = "/var/hal/firmware-version";
// A real part is a few MiB; an access beyond this is a fault of the caller, not a reason to
// grow the image file without bound.
constexpr size_t kMaxFlashSize = 16 * 1024 * 1024;
// The text files are a few lines; anything longer is not one of ours.
constexpr size_t kMaxTextFile = 64 * 1024;

bool InFlash(unsigned int location, unsigned int length) {
  return location <= kMaxFlashSize && length <= kMaxFlashSize - location;
}

// The whole file, at most `limit` bytes; false when it cannot be read or is longer.
bool ReadFile(const std::string& path, size_t limit, std::string& content) {
  const TFileRead read = ReadFileUpTo(path, limit, content);
  if (read == TFileRead::kCut) errno = EFBIG;
  return read == TFileRead::kWhole;
}

// Up to `count` lines of the file, without their line feeds.
bool ReadLines(const char* boxPath, size_t count, std::vector<std::string>& lines) {
  std::string content;
  if (!ReadFile(RootPath(boxPath), kMaxTextFile, content)) return false;
  lines.clear();
  size_t start = 0;
  while (lines.size() < count && start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

char* Duplicate(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

}  // namespace

int IHaiSystem_OpenResource(const char* resource, const char* instance, unsigned int flags,
                            THaiHandle* handle) {
  if (resource == nullptr || instance == nullptr || handle == nullptr) return -1;
  if (flags != 0 || std::strcmp(instance, "0") != 0) return -1;
  if (std::strcmp(resource, "Flash") == 0) {
    *handle = new THaiResource{THaiResource::TKind::eFlash};
  } else if (std::strcmp(resource, "Firmware") == 0) {
    *handle = new THaiResource{THaiResource::TKind::eFirmware};
  } else {
    return -1;
  }
  return 0;
}

int IHaiSystem_CloseResource(THaiHandle handle) {
  if (handle == nullptr) return -1;
  delete handle;
  return 0;
}

int IHaiFlash_Read(THaiHandle handle, unsigned int location, char* buffer, unsigned int length) {
  if (handle == nullptr || handle->kind != THaiResource::TKind::eFlash || buffer == nullptr ||
      !InFlash(location, length)) {
    return -1;
  }
  std::string image;
  if (!ReadFile(RootPath(kFlashImage), kMaxFlashSize, image)) {
    // A box whose area was never written reads as erased; so does a missing image.
    if (errno != ENOENT) return -1;
    image.clear();
  }
  std::memset(buffer, 0, length);
  if (location < image.size()) {
    std::memcpy(buffer, image.data() + location, std::min<size_t>(length, image.size() - location));
  }
  return 0;
}

int IHaiFlash_Write(THaiHandle handle, unsigned int location, const char* data,
                    unsigned int length) {
  if (handle == nullptr || handle->kind != THaiResource::TKind::eFlash || data == nullptr ||
      !InFlash(location, length)) {
    return -1;
  }
  const std::string path = RootPath(kFlashImage);
  std::string image;
  if (!ReadFile(path, kMaxFlashSize, image) && errno != ENOENT) return -1;
  if (image.size() < size_t{location} + length) image.resize(size_t{location} + length, '\0');
  image.replace(location, length, data, length);
  try {
    TAtomicFile::Replace(path, image, 0644);
  } catch (const TException& error) {
    TTracker::GetProcessTracker()->Error("HAL: %s", error.GetText());
    return -1;
  }
  return 0;
}

int IHaiSystem_GetInfo(char** info1, char** info2, char** info3, char** info4) {
  if (!info1 || !info2 || !info3 || !info4) return -1;
  std::vector<std::string> lines;
  if (!ReadLines(kSystemInfo, 4, lines)) return -1;
  lines.resize(4);
  char* copies[4];
  for (int i = 0; i < 4; ++i) copies[i] = Duplicate(lines[i]);
  if (!copies[0] || !copies[1] || !copies[2] || !copies[3]) {
    for (char* copy : copies) std::free(copy);
    return -1;
  }
  *info1 = copies[0];
  *info2 = copies[1];
  *info3 = copies[2];
  *info4 = copies[3];
  return 0;
}

int IHaiFirmware_GetVersion(THaiHandle handle, char** version) {
  if (handle == nullptr || handle->kind != THaiResource::TKind::eFirmware || version == nullptr) {
    return -1;
  }
  std::vector<std::string> lines;
  if (!ReadLines(kFirmwareVersion, 1, lines) || lines.empty()) return -1;
  *version = Duplicate(lines[0]);
  return *version != nullptr ? 0 : -1;
}
