#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "infocast/TInfocastHeader.h"

namespace {

// A header as it appears on the wire: type 0x1234, precoding 0x4000, packet 0x01020304 of
// 0xA0B0C0D0, name "cfg.locale.ui", flags 0xE003.
std::vector<uint8_t> WireHeader() {
  const uint8_t numbers[] = {0x12, 0x34, 0x40, 0x00, 0x01, 0x02,
                             0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0};
  const std::string name = "cfg.locale.ui";
  std::vector<uint8_t> bytes(TInfocastHeader::kSize, 0);
  std::memcpy(bytes.data(), numbers, sizeof numbers);
  std::memcpy(bytes.data() + 12, name.data(), name.size());
  bytes[42] = 0xE0;
  bytes[43] = 0x03;
  return bytes;
}

void ExpectKnownFields(const TInfocastHeader& header, const std::string& name) {
  EXPECT_EQ(header.type, 0x1234);
  EXPECT_EQ(header.precoding, 0x4000);
  EXPECT_EQ(header.packetNumber, 0x01020304u);
  EXPECT_EQ(header.packetCount, 0xA0B0C0D0u);
  EXPECT_EQ(header.GetName(), name);
  EXPECT_EQ(header.name[29], '\0');
  EXPECT_EQ(header.flags, 0xE003);
}

// Decoding from and encoding to offsets 0..7 of a larger buffer: misaligned access would show
// up as faults or, under the sanitizer, as reports.
TEST(TInfocastHeaderTest, DecodesAndEncodesTheWireBytesAtEveryAlignment) {
  const std::vector<uint8_t> wire = WireHeader();
  for (size_t offset = 0; offset < 8; ++offset) {
    std::vector<uint8_t> buffer(offset + wire.size() + 5, 0xEE);
    std::copy(wire.begin(), wire.end(), buffer.begin() + offset);
    TInfocastHeader header;
    ASSERT_TRUE(header.Decode(buffer.data() + offset, wire.size())) << offset;
    ExpectKnownFields(header, "cfg.locale.ui");
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    header.Encode(buffer.data() + offset);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + offset, buffer.begin() + offset + wire.size()),
              wire);
  }
  TInfocastHeader header;
  header.type = 7;
  EXPECT_FALSE(header.Decode(wire.data(), TInfocastHeader::kSize - 1));
  EXPECT_EQ(header.type, 7) << "a short buffer leaves the header unchanged";
}

// The name field holds 29 characters and a terminator, whether the name comes from the wire,
// from SetName or from a copied header whose name was never terminated.
TEST(TInfocastHeaderTest, NamesAreCutAtTwentyNineCharacters) {
  std::vector<uint8_t> wire = WireHeader();
  std::memset(wire.data() + 12, 'n', 30);
  TInfocastHeader source;
  ASSERT_TRUE(source.Decode(wire.data(), wire.size()));
  ExpectKnownFields(source, std::string(29, 'n'));  // the name must not run into flags
  TInfocastHeader set;
  set.SetName(std::string(40, 'a'));
  EXPECT_EQ(set.GetName(), std::string(29, 'a'));
  set.SetName("b");
  EXPECT_EQ(set.name[2], '\0') << "a shorter name must clear the old one's tail";
  std::memset(source.name, 'x', sizeof source.name);  // no terminator at all
  TInfocastHeader assigned;
  std::memset(assigned.name, 'y', sizeof assigned.name);
  assigned = source;
  const TInfocastHeader copied(source);
  ExpectKnownFields(assigned, std::string(29, 'x'));
  ExpectKnownFields(copied, std::string(29, 'x'));
}

TEST(TInfocastHeaderTest, FlagsGiveTheDynamicHeaderLength) {
  const std::pair<uint16_t, size_t> cases[] = {{0x0000, 0},  {0x0003, 0},  {0x2001, 16},
                                               {0x4002, 32}, {0x6003, 48}, {0xE000, 112},
                                               {0x1FFF, 0}};
  for (const auto& [flags, length] : cases) {
    TInfocastHeader header;
    header.flags = flags;
    EXPECT_EQ(header.GetDynamicHeaderLength(), length) << std::hex << flags;
  }
}

}  // namespace
