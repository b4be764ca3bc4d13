// The fixed 44-byte header that starts every Infocast datagram, in memory. The fields have
// the widths and the order they have on the wire, so the structure mirrors the first 44 bytes
// of a datagram; a receiver decodes those bytes (Decode) and a sender encodes them (Encode).
// Numeric fields hold host order after Decode; on the wire they are big-endian. Plain value
// type, no resources, usable from any thread.
//
// Wire layout (offsets from the start of the datagram, numbers big-endian):
//    0  2  type          object type (0x0001 ordinary object; 0x0000, 0xC000, 0x0002,
//                        0x0007 serve the meta channel)
//    2  2  precoding     kind of object signature (0x0002 CRC-16, 0x0004 and 0x4000 CRC-32)
//    4  4  packetNumber  1 .. packetCount; 0 is invalid
//    8  4  packetCount   packets of the object; 0 is invalid
//   12 30  name          ASCII, NUL-terminated, at most 29 characters: byte 41 always ends it
//   42  2  flags         bits 15..13: dynamic packet header length in units of 16 bytes;
//                        bit 1: target filter present; bit 0: time filter present
// Example: 00 01 00 04 00 00 00 01 00 00 00 01 "cfg.a" 00 .. 00 20 01 is packet 1 of 1 of
// the ordinary object "cfg.a" under CRC-32 with a 16-byte dynamic header holding a time
// filter. A name of 30 non-NUL bytes is read as its first 29.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TInfocastHeader final {
 public:
  static constexpr size_t kSize = 44;
  static constexpr size_t kNameSize = 30;
  static constexpr size_t kMaxNameLength = kNameSize - 1;

  // Object types with a meaning of their own; any other value is an ordinary type that must
  // match the type under which the receiver registered the object.
  static constexpr uint16_t kTypeProductInfo = 0x0000;
  static constexpr uint16_t kTypeInformationObject = 0x0001;
  static constexpr uint16_t kTypeBootcastInfo = 0x0002;
  static constexpr uint16_t kTypeUtcTime = 0x0007;
  static constexpr uint16_t kTypeDirectory = 0xC000;

  // Precodings with an object signature, and the one a receiver refuses.
  static constexpr uint16_t kPrecodingCrc16 = 0x0002;
  static constexpr uint16_t kPrecodingUnsupported = 0x0003;
  static constexpr uint16_t kPrecodingCrc32 = 0x0004;
  static constexpr uint16_t kPrecodingCrc32EveryPacket = 0x4000;

  // Bits of flags.
  static constexpr uint16_t kTimeFilterFlag = 0x0001;
  static constexpr uint16_t kTargetFilterFlag = 0x0002;
  static constexpr unsigned kDynamicLengthShift = 13;
  static constexpr size_t kDynamicLengthUnit = 16;
  static constexpr size_t kMaxDynamicLength = 7 * kDynamicLengthUnit;

  // Every numeric field 0, name empty.
  TInfocastHeader();
  // Both copy the numeric fields and at most kMaxNameLength characters of name, and always
  // terminate name, so a header never carries an unterminated name onwards.
  TInfocastHeader(const TInfocastHeader& other);
  TInfocastHeader& operator=(const TInfocastHeader& other);

  // Swaps type, precoding and flags (16 bits) and packetNumber and packetCount (32 bits) in
  // place between network and host order; name is untouched. A no-op on big-endian hosts.
  void ConvertNetworkToHostOrder();

  // Reads the first kSize bytes of buffer, which needs no particular alignment, into this
  // header in host order and terminates name at byte 41. Returns false, leaving the header
  // unchanged, when fewer than kSize bytes are given.
  bool Decode(const void* buffer, size_t length);
  // Writes this header (host order) as its kSize wire bytes to buffer (any alignment).
  void Encode(void* buffer) const;

  // name as a string: the characters up to the first NUL, at most kMaxNameLength.
  std::string GetName() const;
  // Sets name to at most kMaxNameLength characters of text, padding the rest with NULs.
  void SetName(const std::string& text);

  // Length in bytes of the dynamic packet header that flags announce (0 to 112).
  size_t GetDynamicHeaderLength() const;
  // The last packet of an object is the one whose number equals the count.
  bool IsLastPacket() const { return packetNumber == packetCount; }
  // Bytes of object signature at the end of a packet of the given precoding:
  //   0x0002: 2 in the last packet, 0 in others (16-bit checksum)
  //   0x0004: 4 in the last packet, 0 in others (CRC-32)
  //   0x4000: 4 in every packet (CRC-32; only the last packet's is checked)
  //   any other precoding: 0
  static size_t SignatureLength(uint16_t precoding, bool lastPacket);
  size_t GetSignatureLength() const { return SignatureLength(precoding, IsLastPacket()); }

  uint16_t type;
  uint16_t precoding;
  uint32_t packetNumber;
  uint32_t packetCount;
  char name[kNameSize];
  uint16_t flags;
};
