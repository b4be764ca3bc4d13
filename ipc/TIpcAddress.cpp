#include "ipc/TIpcAddress.h"

#include "base/TException.h"

namespace {

const char kScheme[] = "ipc:";
constexpr size_t kSchemeSize = sizeof kScheme - 1;
const char kSuffix[] = ".sock";
constexpr size_t kSuffixSize = sizeof kSuffix - 1;

bool ParseObjectId(const std::string& text, uint32_t& id) {
  if (text.empty() || text.size() > 10 || text[0] == '0') return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  id = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool TIpcAddress::IsValidSocketPath(const std::string& path) {
  if (path.size() <= kSuffixSize + 1 || path.size() > kMaxSocketPath || path[0] != '/') {
    return false;
  }
  if (path.compare(path.size() - kSuffixSize, kSuffixSize, kSuffix) != 0) return false;
  for (char c : path) {
    if (c < 0x20 || c > 0x7e || c == '#') return false;
  }
  return true;
}

bool TIpcAddress::Parse(const std::string& text, TIpcAddress& address) {
  if (text.compare(0, kSchemeSize, kScheme) != 0) return false;
  const size_t hash = text.rfind('#');
  if (hash == std::string::npos || hash < kSchemeSize) return false;
  std::string path = text.substr(kSchemeSize, hash - kSchemeSize);
  uint32_t id = 0;
  if (!IsValidSocketPath(path) || !ParseObjectId(text.substr(hash + 1), id)) return false;
  address.socketPath = std::move(path);
  address.objectId = id;
  return true;
}

std::string TIpcAddress::Format(const std::string& socketPath, uint32_t objectId) {
  if (!IsValidSocketPath(socketPath) || objectId == 0) {
    throw TException("TIpcAddress: unusable socket path '" + socketPath + "'");
  }
  return kScheme + socketPath + "#" + std::to_string(objectId);
}
