#include "infocast/InfocastChecksums.h"

#include <array>

namespace {

constexpr uint16_t kCrc16Basis = 0x1189;
constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;

constexpr uint16_t RotateLeft16(uint16_t value, unsigned bits) {
  return static_cast<uint16_t>((value << bits) | (value >> ((16 - bits) & 15)));
}

// Linear table: entry i is the XOR of the basis rotated by k for every set bit k of i.
constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t entry = 0;
    for (unsigned k = 0; k < 8; ++k) {
      if (i & (1u << k)) {
        entry ^= RotateLeft16(kCrc16Basis, k);
      }
    }
    table[i] = entry;
  }
  return table;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t entry = i;
    for (int bit = 0; bit < 8; ++bit) {
      entry = (entry & 1u) ? (entry >> 1) ^ kCrc32Polynomial : entry >> 1;
    }
    table[i] = entry;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();
constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

// The values that head-ends and boxes agree on; a wrong table fails the build.
static_assert(kCrc16Table[1] == 0x1189 && kCrc16Table[16] == 0x1891 && kCrc16Table[128] == 0xC488 &&
                  kCrc16Table[255] == 0x7788,
              "16-bit checksum table");
static_assert(kCrc32Table[1] == 0x77073096u && kCrc32Table[255] == 0x2D02EF8Du, "CRC-32 table");

}  // namespace

uint16_t DoCRC16Run(const uint8_t* begin, const uint8_t* end, uint16_t initial) {
  uint16_t reg = initial;
  for (const uint8_t* p = begin; p != end; ++p) {
    reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ *p) & 0xFFu]);
  }
  return reg;
}

uint32_t DoCRC32EthernetRun(const uint8_t* begin, const uint8_t* end, uint32_t reg) {
  for (const uint8_t* p = begin; p != end; ++p) {
    reg = (reg >> 8) ^ kCrc32Table[(reg ^ *p) & 0xFFu];
  }
  return ~reg;
}

uint32_t DoCRC32Ethernet(const uint8_t* begin, const uint8_t* end) {
  return DoCRC32EthernetRun(begin, end, 0xFFFFFFFFu);
}
