// A deliberately small receiver for tests: reassembles the datagrams of one object the way a
// box reads them (fixed header, dynamic header from flags, data slice, signature at the end)
// and reports every rule a datagram breaks, so that a sender's output can be checked without
// the channel. Header-only so that the tool's process tests can share it.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastHeader.h"

struct TDecodedInfocastObject {
  uint16_t type = 0;
  uint16_t precoding = 0;
  std::string name;
  uint16_t flags = 0;
  std::string timeFilter;    // 16 characters when present
  std::string targetFilter;  // 32 bytes when present
  std::string data;
  // Signatures found in packets that are not the last (precoding 0x4000 only).
  std::vector<uint32_t> earlySignatures;
  uint32_t signature = 0;
  std::string error;  // empty when the object is well-formed and its signature matches
};

inline uint32_t ReadBigEndian(const std::string& bytes, size_t offset, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
  }
  return value;
}

inline TDecodedInfocastObject DecodeInfocastObject(const std::vector<std::string>& datagrams) {
  TDecodedInfocastObject object;
  auto fail = [&object](const std::string& text) {
    if (object.error.empty()) object.error = text;
    return object;
  };
  if (datagrams.empty()) return fail("no datagrams");
  for (size_t i = 0; i < datagrams.size(); ++i) {
    const std::string& datagram = datagrams[i];
    TInfocastHeader header;
    if (!header.Decode(datagram.data(), datagram.size())) return fail("short header");
    if (header.packetNumber != i + 1) return fail("packet number out of order");
    if (header.packetCount != datagrams.size()) return fail("packet count mismatch");
    if (i == 0) {
      object.type = header.type;
      object.precoding = header.precoding;
      object.name = header.GetName();
      object.flags = header.flags;
    } else if (header.type != object.type || header.precoding != object.precoding ||
               header.GetName() != object.name || header.flags != object.flags) {
      return fail("packet differs from the first in type, precoding, name or flags");
    }
    const size_t dynamicLength = header.GetDynamicHeaderLength();
    size_t filters = 0;
    if (header.flags & TInfocastHeader::kTimeFilterFlag) filters += 16;
    if (header.flags & TInfocastHeader::kTargetFilterFlag) filters += 32;
    if (filters > dynamicLength || datagram.size() < TInfocastHeader::kSize + dynamicLength) {
      return fail("invalid dynamic packet header");
    }
    // Every packet carries the dynamic header; a sender must repeat it unchanged.
    const std::string dynamic = datagram.substr(TInfocastHeader::kSize, filters);
    if (i > 0 && dynamic != object.timeFilter + object.targetFilter) {
      return fail("filters differ between packets");
    }
    const size_t timeLength = (header.flags & TInfocastHeader::kTimeFilterFlag) ? 16 : 0;
    object.timeFilter = dynamic.substr(0, timeLength);
    object.targetFilter = dynamic.substr(timeLength);
    const size_t begin = TInfocastHeader::kSize + dynamicLength;
    const size_t signatureLength = header.GetSignatureLength();
    if (datagram.size() - begin < signatureLength) return fail("invalid object signature");
    const size_t end = datagram.size() - signatureLength;
    object.data.append(datagram, begin, end - begin);
    if (signatureLength > 0) {
      const uint32_t signature = ReadBigEndian(datagram, end, signatureLength);
      if (header.IsLastPacket()) {
        object.signature = signature;
      } else {
        object.earlySignatures.push_back(signature);
      }
    }
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(object.data.data());
  const size_t size = object.data.size();
  if (object.precoding == TInfocastHeader::kPrecodingCrc16 &&
      DoCRC16Run(bytes, bytes + size, 0) != object.signature) {
    return fail("crc16 mismatch");
  }
  if ((object.precoding == TInfocastHeader::kPrecodingCrc32 ||
       object.precoding == TInfocastHeader::kPrecodingCrc32EveryPacket) &&
      DoCRC32Ethernet(bytes, bytes + size) != object.signature) {
    return fail("crc32 mismatch");
  }
  return object;
}
