// The sending side of the Infocast format: cuts one object (type, precoding, name, data and
// optional filters) into the datagrams a head-end sends and a box reassembles. Holds only the
// object's description; the data is passed to Packetize. Usable from any one thread at a time.
//
// Layout of every datagram it produces:
//   [44-byte header][dynamic header D][data slice][signature S]
// - packetNumber runs 1 .. packetCount; type, precoding, packetCount and name are equal in
//   every packet of the object.
// - D holds the time filter (16 bytes: start and end as 8 upper-case hex digits each) and
//   then the target filter (32 bytes, NUL-padded); D is 0, 16, 32 or 48 and flags carry D/16
//   in bits 15..13, bit 0 for the time filter and bit 1 for the target filter:
//   time filter alone 0x2001, target filter alone 0x4002, both 0x6003. Every packet repeats D.
// - S is the object signature (a checksum of the whole object's data, big-endian): 2 bytes
//   of DoCRC16Run(data, 0) in the last packet for 0x0002, 4 bytes of DoCRC32Ethernet(data) in
//   the last packet for 0x0004 and in every packet for 0x4000, nothing for other precodings.
// - Slices are filled in order, each packet to maxDatagramSize M, so an object of N bytes
//   fills exactly k datagrams of M bytes when N == (k-1)*(M-44-D-S') + (M-44-D-S), S' being
//   the signature of a packet that is not the last. When the rest fits a packet but not
//   beside the last packet's longer signature, it goes out and a last packet follows that
//   holds only the signature: a box accepts an empty slice.
// Example: 3000 bytes, precoding 0x0004, no filters, M 1400: packets of 1356, 1356 and 288
// data bytes, the third followed by the 4-byte CRC-32: datagrams of 1400, 1400 and 336 bytes.
// An empty object is one packet: 44 bytes plus D plus its signature (that of no bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TInfocastPacketizer final {
 public:
  // Receives one datagram; the bytes are valid only during the call.
  using TSink = std::function<void(const uint8_t* datagram, size_t length)>;

  static constexpr size_t kTimeFilterLength = 16;
  static constexpr size_t kTargetFilterLength = 32;

  // Throws TException when name is longer than 29 characters or contains a NUL: the box
  // would read it as another name.
  TInfocastPacketizer(uint16_t type, uint16_t precoding, const std::string& name,
                      size_t maxDatagramSize);

  // The object is valid from start to end, both Unix times, inclusive.
  void SetTimeFilter(uint32_t start, uint32_t end);
  // filter: type letter, operator character, operand, as the box reads them; NUL-padded to
  // 32 bytes. Throws TException unless it has a letter and an operator and a NUL falls
  // inside the 32 bytes (at most 31 characters before the first NUL).
  void SetTargetFilter(const std::string& filter);

  // Bytes of dynamic packet header in every packet, and the flags that announce them.
  size_t GetDynamicHeaderLength() const;
  uint16_t GetFlags() const;

  // Number of datagrams an object of dataSize bytes takes. Throws TException when
  // maxDatagramSize leaves no data byte per packet or the count exceeds 32 bits.
  uint32_t GetPacketCount(size_t dataSize) const;

  // Calls sink once per datagram, in packet order. Throws as GetPacketCount, before the
  // first call. Does not call back into anything but sink.
  void Packetize(const uint8_t* data, size_t size, const TSink& sink) const;
  // The datagrams of data, in packet order.
  std::vector<std::string> Packetize(const std::string& data) const;

 private:
  // Data bytes of a packet that is not the last / of the last packet.
  size_t Capacity(bool lastPacket) const;
  std::string BuildDynamicHeader() const;

  uint16_t type_;
  uint16_t precoding_;
  std::string name_;
  size_t maxDatagramSize_;
  bool hasTimeFilter_ = false;
  std::string timeFilter_;
  bool hasTargetFilter_ = false;
  std::string targetFilter_;
};
