#include "infocast/TInfocastPacketizer.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/TException.h"
#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastHeader.h"

namespace {

std::string Format(const char* format, size_t a, size_t b) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The object signature as it goes on the wire; empty for precodings without one.
std::string Signature(uint16_t precoding, const uint8_t* data, size_t size) {
  std::string bytes;
  if (precoding == TInfocastHeader::kPrecodingCrc16) {
    const uint16_t wire = htons(DoCRC16Run(data, data + size, 0));
    bytes.assign(reinterpret_cast<const char*>(&wire), sizeof wire);
  } else if (TInfocastHeader::SignatureLength(precoding, true) == 4) {
    const uint32_t wire = htonl(DoCRC32Ethernet(data, data + size));
    bytes.assign(reinterpret_cast<const char*>(&wire), sizeof wire);
  }
  return bytes;
}

}  // namespace

TInfocastPacketizer::TInfocastPacketizer(uint16_t type, uint16_t precoding, const std::string& name,
                                         size_t maxDatagramSize)
    : type_(type), precoding_(precoding), name_(name), maxDatagramSize_(maxDatagramSize) {
  if (name.size() > TInfocastHeader::kMaxNameLength) {
    throw TException("TInfocastPacketizer: name '" + name + "' is longer than 29 characters");
  }
  if (name.find('\0') != std::string::npos) {
    throw TException("TInfocastPacketizer: name contains a NUL byte");
  }
}

void TInfocastPacketizer::SetTimeFilter(uint32_t start, uint32_t end) {
  char text[kTimeFilterLength + 1];
  std::snprintf(text, sizeof text, "%08" PRIX32 "%08" PRIX32, start, end);
  timeFilter_.assign(text, kTimeFilterLength);
  hasTimeFilter_ = true;
}

void TInfocastPacketizer::SetTargetFilter(const std::string& filter) {
  const size_t terminator = filter.find('\0');
  const size_t textLength = terminator == std::string::npos ? filter.size() : terminator;
  if (textLength >= kTargetFilterLength || filter.size() > kTargetFilterLength) {
    throw TException("TInfocastPacketizer: target filter '" + filter.substr(0, textLength) +
                     "' does not fit 31 characters and its terminator");
  }
  if (textLength < 2) {
    throw TException("TInfocastPacketizer: target filter '" + filter.substr(0, textLength) +
                     "' lacks its type letter or operator");
  }
  targetFilter_ = filter;
  targetFilter_.resize(kTargetFilterLength, '\0');
  hasTargetFilter_ = true;
}

size_t TInfocastPacketizer::GetDynamicHeaderLength() const {
  return (hasTimeFilter_ ? kTimeFilterLength : 0) + (hasTargetFilter_ ? kTargetFilterLength : 0);
}

uint16_t TInfocastPacketizer::GetFlags() const {
  // Both filter lengths are multiples of the unit, so no padding is ever needed.
  const size_t units = GetDynamicHeaderLength() / TInfocastHeader::kDynamicLengthUnit;
  uint16_t flags = static_cast<uint16_t>(units << TInfocastHeader::kDynamicLengthShift);
  if (hasTimeFilter_) {
    flags |= TInfocastHeader::kTimeFilterFlag;
  }
  if (hasTargetFilter_) {
    flags |= TInfocastHeader::kTargetFilterFlag;
  }
  return flags;
}

size_t TInfocastPacketizer::Capacity(bool lastPacket) const {
  const size_t overhead = TInfocastHeader::kSize + GetDynamicHeaderLength() +
                          TInfocastHeader::SignatureLength(precoding_, lastPacket);
  return maxDatagramSize_ > overhead ? maxDatagramSize_ - overhead : 0;
}

uint32_t TInfocastPacketizer::GetPacketCount(size_t dataSize) const {
  const size_t last = Capacity(true);
  const size_t other = Capacity(false);
  if (last == 0 || other == 0) {
    const size_t needed = TInfocastHeader::kSize + GetDynamicHeaderLength() +
                          std::max(TInfocastHeader::SignatureLength(precoding_, true),
                                   TInfocastHeader::SignatureLength(precoding_, false)) +
                          1;
    throw TException(
        Format("TInfocastPacketizer: maximum datagram size %zu leaves no room for "
               "data (at least %zu needed)",
               maxDatagramSize_, needed));
  }
  if (dataSize <= last) {
    return 1;
  }
  const size_t count = 1 + (dataSize - last + other - 1) / other;
  if (count > std::numeric_limits<uint32_t>::max()) {
    throw TException(
        Format("TInfocastPacketizer: object of %zu bytes needs %zu packets", dataSize, count));
  }
  return static_cast<uint32_t>(count);
}

void TInfocastPacketizer::Packetize(const uint8_t* data, size_t size, const TSink& sink) const {
  const uint32_t count = GetPacketCount(size);
  const std::string dynamicHeader = BuildDynamicHeader();
  const std::string signature = Signature(precoding_, data, size);

  TInfocastHeader header;
  header.type = type_;
  header.precoding = precoding_;
  header.packetCount = count;
  header.SetName(name_);
  header.flags = GetFlags();

  // No datagram is longer than the whole object in one packet, whatever maxDatagramSize_ is.
  const size_t longest = TInfocastHeader::kSize + dynamicHeader.size() + size + 4;
  std::vector<uint8_t> datagram(std::min(maxDatagramSize_, longest));
  size_t offset = 0;
  for (uint32_t number = 1; number <= count; ++number) {
    header.packetNumber = number;
    const bool last = number == count;
    const size_t slice = last ? size - offset : std::min(Capacity(false), size - offset);
    const size_t signatureLength = TInfocastHeader::SignatureLength(precoding_, last);

    uint8_t* out = datagram.data();
    header.Encode(out);
    out += TInfocastHeader::kSize;
    std::memcpy(out, dynamicHeader.data(), dynamicHeader.size());
    out += dynamicHeader.size();
    if (slice > 0) {
      std::memcpy(out, data + offset, slice);
      out += slice;
    }
    std::memcpy(out, signature.data(), signatureLength);
    out += signatureLength;

    offset += slice;
    sink(datagram.data(), static_cast<size_t>(out - datagram.data()));
  }
}

std::vector<std::string> TInfocastPacketizer::Packetize(const std::string& data) const {
  std::vector<std::string> datagrams;
  Packetize(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
            [&datagrams](const uint8_t* datagram, size_t length) {
              datagrams.emplace_back(reinterpret_cast<const char*>(datagram), length);
            });
  return datagrams;
}

std::string TInfocastPacketizer::BuildDynamicHeader() const {
  // Time filter first, target filter after it: the order in which a box reads them.
  std::string header;
  if (hasTimeFilter_) {
    header += timeFilter_;
  }
  if (hasTargetFilter_) {
    header += targetFilter_;
  }
  return header;
}
