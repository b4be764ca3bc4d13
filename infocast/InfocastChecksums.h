// The two object signatures of the Infocast format, as free functions over byte ranges
// [begin, end) (empty ranges allowed). The 16-bit checksum is table-driven, byte at a time,
// with its table built at compile time; CRC-32 is zlib's crc32(). Pure functions, safe from
// any thread.
//
// CRC-32 (precodings 0x0004 and 0x4000) is the IEEE 802.3 CRC: reflected polynomial
// 0xEDB88320, register starting at 0xFFFFFFFF, result complemented. "123456789" gives
// 0xCBF43926. DoCRC32EthernetRun returns the complement of its final register, so a
// checksum is continued over a second range by passing the complement of the first result:
//   DoCRC32EthernetRun(mid, end, ~DoCRC32EthernetRun(begin, mid, 0xFFFFFFFF))
//     == DoCRC32Ethernet(begin, end)
//
// The 16-bit checksum (precoding 0x0002) is reflected and has no final XOR, but its table is
// NOT the CRC-16/CCITT table: entry i is the XOR, over each set bit k of i, of 0x1189 rotated
// left by k within 16 bits. Entries 0..15 agree with CCITT; entry 16 is 0x1891 (CCITT
// 0x1081), entry 128 is 0xC488 (CCITT 0x8408), entry 255 is 0x7788. Boxes and head-ends
// compute exactly this function, so it must not be "corrected". With initial value 0, "abc"
// gives 0xA837 and an empty range 0. No final XOR means runs chain directly:
//   DoCRC16Run(mid, end, DoCRC16Run(begin, mid, 0)) == DoCRC16Run(begin, end, 0)
#pragma once

#include <cstdint>

// Returns the 16-bit checksum of [begin, end) starting from initial.
uint16_t DoCRC16Run(const uint8_t* begin, const uint8_t* end, uint16_t initial);
// Returns the complement of the CRC-32 register after [begin, end), starting from reg; for an
// empty range, ~reg.
uint32_t DoCRC32EthernetRun(const uint8_t* begin, const uint8_t* end, uint32_t reg);
// DoCRC32EthernetRun(begin, end, 0xFFFFFFFF).
uint32_t DoCRC32Ethernet(const uint8_t* begin, const uint8_t* end);

// The same over char ranges (std::string data), which may alias any object.
inline uint16_t DoCRC16Run(const char* begin, const char* end, uint16_t initial) {
  return DoCRC16Run(reinterpret_cast<const uint8_t*>(begin), reinterpret_cast<const uint8_t*>(end),
                    initial);
}
inline uint32_t DoCRC32EthernetRun(const char* begin, const char* end, uint32_t reg) {
  return DoCRC32EthernetRun(reinterpret_cast<const uint8_t*>(begin),
                            reinterpret_cast<const uint8_t*>(end), reg);
}
inline uint32_t DoCRC32Ethernet(const char* begin, const char* end) {
  return DoCRC32Ethernet(reinterpret_cast<const uint8_t*>(begin),
                         reinterpret_cast<const uint8_t*>(end));
}
