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

// Single bytes with initial value 0 read the CRC-16 table entries out directly; entries 16,
// 128 and 255 are where the table departs from CRC-16/CCITT.
TEST(InfocastChecksumsTest, KnownValues) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
  EXPECT_EQ(Crc32("a"), 0xE8B7BE43u);
  const char* nothing = "";
  EXPECT_EQ(DoCRC32EthernetRun(nothing, nothing, 0x12345678u), ~0x12345678u);
  EXPECT_EQ(Crc16(std::string(1, '\x01')), 0x1189);
  EXPECT_EQ(Crc16(std::string(1, '\x0F')), 0xF8F7);
  EXPECT_EQ(Crc16(std::string(1, '\x10')), 0x1891);
  EXPECT_EQ(Crc16(std::string(1, '\x80')), 0xC488);
  EXPECT_EQ(Crc16(std::string(1, '\xFF')), 0x7788);
  EXPECT_EQ(Crc16("abc"), 0xA837);
  EXPECT_EQ(Crc16("", 0xBEEF), 0xBEEF);
}

// The channel and the sender both work slice by slice: CRC-32 continued over three runs at
// random cuts, at any alignment and across zlib's internal block sizes, equals a bit-at-a-time
// CRC-32 straight from the polynomial; CRC-16 over runs equals CRC-16 over the whole.
TEST(InfocastChecksumsTest, RunsAtAnyCutAndAlignmentEqualOneRunAndThePolynomial) {
  std::mt19937 generator(3);
  for (int round = 0; round < 200; ++round) {
    std::string buffer(generator() % 5000 + 8, '\0');
    for (char& byte : buffer) byte = static_cast<char>(generator());
    const size_t offset = round % 8;
    const std::string data = buffer.substr(offset);
    uint32_t reference = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
      reference ^= byte;
      for (int bit = 0; bit < 8; ++bit) {
        reference = (reference & 1u) ? (reference >> 1) ^ 0xEDB88320u : reference >> 1;
      }
    }
    const char* begin = buffer.data() + offset;
    const size_t a = generator() % (data.size() + 1);
    const size_t b = a + generator() % (data.size() - a + 1);
    uint32_t crc32 = DoCRC32EthernetRun(begin, begin + a, 0xFFFFFFFFu);
    crc32 = DoCRC32EthernetRun(begin + a, begin + b, ~crc32);
    crc32 = DoCRC32EthernetRun(begin + b, begin + data.size(), ~crc32);
    EXPECT_EQ(crc32, ~reference) << data.size() << " " << a << " " << b;
    EXPECT_EQ(Crc32(data), ~reference);
    uint16_t crc16 = DoCRC16Run(begin, begin + a, 0);
    crc16 = DoCRC16Run(begin + a, begin + b, crc16);
    EXPECT_EQ(DoCRC16Run(begin + b, begin + data.size(), crc16), Crc16(data));
  }
}

}  // namespace
