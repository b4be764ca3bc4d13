#include "infocast/TInfocastHeader.h"

#include <arpa/inet.h>

#include <cstring>

// The in-memory form keeps the wire layout (no padding, fields at their wire offsets), so a
// header read straight from a receive buffer and one decoded here agree.
static_assert(offsetof(TInfocastHeader, type) == 0, "wire layout");
static_assert(offsetof(TInfocastHeader, precoding) == 2, "wire layout");
static_assert(offsetof(TInfocastHeader, packetNumber) == 4, "wire layout");
static_assert(offsetof(TInfocastHeader, packetCount) == 8, "wire layout");
static_assert(offsetof(TInfocastHeader, name) == 12, "wire layout");
static_assert(offsetof(TInfocastHeader, flags) == 42, "wire layout");
static_assert(sizeof(TInfocastHeader) == TInfocastHeader::kSize, "wire layout");

TInfocastHeader::TInfocastHeader()
    : type(0), precoding(0), packetNumber(0), packetCount(0), name{}, flags(0) {}

TInfocastHeader::TInfocastHeader(const TInfocastHeader& other) : TInfocastHeader() {
  *this = other;
}

TInfocastHeader& TInfocastHeader::operator=(const TInfocastHeader& other) {
  if (this != &other) {
    type = other.type;
    precoding = other.precoding;
    packetNumber = other.packetNumber;
    packetCount = other.packetCount;
    flags = other.flags;
    const size_t length = strnlen(other.name, kMaxNameLength);
    std::memcpy(name, other.name, length);
    std::memset(name + length, 0, kNameSize - length);
  }
  return *this;
}

void TInfocastHeader::ConvertNetworkToHostOrder() {
  type = ntohs(type);
  precoding = ntohs(precoding);
  packetNumber = ntohl(packetNumber);
  packetCount = ntohl(packetCount);
  flags = ntohs(flags);
}

// Fields are copied one by one with memcpy: valid for any alignment of the buffer, and the
// buffer is never read through a pointer of another type. (The class has its own copy
// operations, so copying the whole object as bytes would not be well-defined.)
bool TInfocastHeader::Decode(const void* buffer, size_t length) {
  if (length < kSize) {
    return false;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::memcpy(&type, bytes + offsetof(TInfocastHeader, type), sizeof type);
  std::memcpy(&precoding, bytes + offsetof(TInfocastHeader, precoding), sizeof precoding);
  std::memcpy(&packetNumber, bytes + offsetof(TInfocastHeader, packetNumber), sizeof packetNumber);
  std::memcpy(&packetCount, bytes + offsetof(TInfocastHeader, packetCount), sizeof packetCount);
  std::memcpy(name, bytes + offsetof(TInfocastHeader, name), kNameSize);
  std::memcpy(&flags, bytes + offsetof(TInfocastHeader, flags), sizeof flags);
  name[kMaxNameLength] = '\0';
  ConvertNetworkToHostOrder();
  return true;
}

void TInfocastHeader::Encode(void* buffer) const {
  TInfocastHeader wire(*this);
  // The swap is its own inverse: host to network order is the same exchange of bytes.
  wire.ConvertNetworkToHostOrder();
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::memcpy(bytes + offsetof(TInfocastHeader, type), &wire.type, sizeof type);
  std::memcpy(bytes + offsetof(TInfocastHeader, precoding), &wire.precoding, sizeof precoding);
  std::memcpy(bytes + offsetof(TInfocastHeader, packetNumber), &wire.packetNumber,
              sizeof packetNumber);
  std::memcpy(bytes + offsetof(TInfocastHeader, packetCount), &wire.packetCount,
              sizeof packetCount);
  std::memcpy(bytes + offsetof(TInfocastHeader, name), wire.name, kNameSize);
  std::memcpy(bytes + offsetof(TInfocastHeader, flags), &wire.flags, sizeof flags);
}

std::string TInfocastHeader::GetName() const {
  return std::string(name, strnlen(name, kMaxNameLength));
}

void TInfocastHeader::SetName(const std::string& text) {
  const size_t length = strnlen(text.c_str(), kMaxNameLength);
  std::memcpy(name, text.data(), length);
  std::memset(name + length, 0, kNameSize - length);
}

size_t TInfocastHeader::GetDynamicHeaderLength() const {
  return ((flags >> kDynamicLengthShift) & 7u) * kDynamicLengthUnit;
}

size_t TInfocastHeader::SignatureLength(uint16_t precoding, bool lastPacket) {
  switch (precoding) {
    case kPrecodingCrc16:
      return lastPacket ? 2 : 0;
    case kPrecodingCrc32:
      return lastPacket ? 4 : 0;
    case kPrecodingCrc32EveryPacket:
      return 4;
    default:
      return 0;
  }
}
