#include <gtest/gtest.h>

#include <random>
#include <string>

#include "infocast/InfocastChecksums.h"

namespace {

uint16_t Crc16(const std::string& text, uint16_t initial = 0) {
  return DoCRC16Run(text.data(), text.data() + text.size(), initial);
}

uint32_t Crc32(const std::string& text) {
  return DoCRC32Ethernet(text.data(), text.data() + text.size());
}

// Bit-at-a-time CRC-32 straight from the polynomial, independent of the table.
uint32_t BitwiseCrc32(const std::string& text) {
  uint32_t reg = 0xFFFFFFFFu;
  for (unsigned char byte : text) {
    reg ^= byte;
    for (int bit = 0; bit < 8; ++bit) reg = (reg & 1u) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  }
  return ~reg;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

TEST(InfocastChecksumsTest, Crc32MatchesKnownValuesAndThePolynomial) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
  EXPECT_EQ(Crc32("a"), 0xE8B7BE43u);
  const char* nothing = "";
  EXPECT_EQ(DoCRC32EthernetRun(nothing, nothing, 0x12345678u), ~0x12345678u);
  const std::string data = RandomBytes(4099, 1);
  EXPECT_EQ(Crc32(data), BitwiseCrc32(data));
}

// Single bytes with initial value 0 read the table entries out directly; entries 16, 128 and
// 255 are where the table departs from CRC-16/CCITT.
TEST(InfocastChecksumsTest, Crc16MatchesItsOwnTableNotCcitt) {
  EXPECT_EQ(Crc16(std::string(1, '\x01')), 0x1189);
  EXPECT_EQ(Crc16(std::string(1, '\x0F')), 0xF8F7) << "entries 0..15 agree with CCITT";
  EXPECT_EQ(Crc16(std::string(1, '\x10')), 0x1891);
  EXPECT_EQ(Crc16(std::string(1, '\x80')), 0xC488);
  EXPECT_EQ(Crc16(std::string(1, '\xFF')), 0x7788);
  EXPECT_EQ(Crc16("abc"), 0xA837);
  EXPECT_EQ(Crc16(""), 0);
  EXPECT_EQ(Crc16("", 0xBEEF), 0xBEEF);
}

// Two consecutive runs give the checksum of the whole buffer, whatever the split, and the
// buffer's alignment does not matter: the channel and the sender both work slice by slice.
TEST(InfocastChecksumsTest, TwoRunsEqualOneRunForEverySplitAndAlignment) {
  const std::string data = RandomBytes(300, 2);
  const char* begin = data.data();
  const char* end = begin + data.size();
  const uint16_t whole16 = Crc16(data);
  const uint32_t whole32 = Crc32(data);
  for (size_t split = 0; split <= data.size(); ++split) {
    const char* middle = begin + split;
    EXPECT_EQ(DoCRC16Run(middle, end, DoCRC16Run(begin, middle, 0)), whole16) << split;
    const uint32_t first = DoCRC32EthernetRun(begin, middle, 0xFFFFFFFFu);
    EXPECT_EQ(DoCRC32EthernetRun(middle, end, ~first), whole32) << split;
  }
  for (size_t offset = 1; offset < 8; ++offset) {
    const std::string shifted = std::string(offset, 'z') + data;
    const char* moved = shifted.data() + offset;
    EXPECT_EQ(DoCRC16Run(moved, moved + data.size(), 0), whole16) << offset;
    EXPECT_EQ(DoCRC32Ethernet(moved, moved + data.size()), whole32) << offset;
  }
}

// CRC-32 is zlib's now; the byte-wise table it replaced is the reference here. Both
// checksums are continued over three runs at random cuts of random sizes, across zlib's
// internal block sizes, and must equal the reference over the whole buffer.
TEST(InfocastChecksumsTest, ZlibCrc32AndTheCrc16TableAgreeWithByteWiseReferencesOverRuns) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t entry = i;
    for (int bit = 0; bit < 8; ++bit)
      entry = (entry & 1u) ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
    table[i] = entry;
  }
  std::mt19937 generator(3);
  for (int round = 0; round < 200; ++round) {
    const std::string data = RandomBytes(generator() % 5000, round);
    uint32_t reference = 0xFFFFFFFFu;
    for (unsigned char byte : data) reference = (reference >> 8) ^ table[(reference ^ byte) & 0xFF];
    const char* begin = data.data();
    const size_t a = data.empty() ? 0 : generator() % (data.size() + 1);
    const size_t b = a + (data.size() == a ? 0 : generator() % (data.size() - a + 1));
    uint32_t crc32 = DoCRC32EthernetRun(begin, begin + a, 0xFFFFFFFFu);
    crc32 = DoCRC32EthernetRun(begin + a, begin + b, ~crc32);
    crc32 = DoCRC32EthernetRun(begin + b, begin + data.size(), ~crc32);
    EXPECT_EQ(crc32, ~reference) << data.size() << " " << a << " " << b;
    uint16_t crc16 = DoCRC16Run(begin, begin + a, 0);
    crc16 = DoCRC16Run(begin + a, begin + b, crc16);
    EXPECT_EQ(DoCRC16Run(begin + b, begin + data.size(), crc16), Crc16(data));
  }
}

}  // namespace
