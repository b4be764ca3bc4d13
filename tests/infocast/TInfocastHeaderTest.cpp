#include <gtest/gtest.h>

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

void ExpectKnownFields(const TInfocastHeader& header) {
  EXPECT_EQ(header.type, 0x1234);
  EXPECT_EQ(header.precoding, 0x4000);
  EXPECT_EQ(header.packetNumber, 0x01020304u);
  EXPECT_EQ(header.packetCount, 0xA0B0C0D0u);
  EXPECT_EQ(header.GetName(), "cfg.locale.ui");
  EXPECT_EQ(header.flags, 0xE003);
}

}  // namespace

TEST(TInfocastHeaderTest, DecodesKnownFieldsFromEveryBufferAlignment) {
  const std::vector<uint8_t> wire = WireHeader();
  // Copy the header to offsets 0..7 inside a larger buffer so that misaligned reads would
  // show up (as faults or, under the sanitizer, as reports).
  for (size_t offset = 0; offset < 8; ++offset) {
    std::vector<uint8_t> buffer(offset + wire.size() + 5, 0xEE);
    std::memcpy(buffer.data() + offset, wire.data(), wire.size());
    TInfocastHeader header;
    ASSERT_TRUE(header.Decode(buffer.data() + offset, wire.size())) << offset;
    ExpectKnownFields(header);
  }
}

TEST(TInfocastHeaderTest, ShortBufferIsRefusedAndLeavesHeaderUnchanged) {
  const std::vector<uint8_t> wire = WireHeader();
  TInfocastHeader header;
  header.type = 7;
  EXPECT_FALSE(header.Decode(wire.data(), TInfocastHeader::kSize - 1));
  EXPECT_EQ(header.type, 7);
  EXPECT_EQ(header.packetCount, 0u);
  EXPECT_TRUE(header.Decode(wire.data(), TInfocastHeader::kSize));
}

TEST(TInfocastHeaderTest, NameOfThirtyBytesIsReadAsItsFirstTwentyNine) {
  std::vector<uint8_t> wire = WireHeader();
  std::memset(wire.data() + 12, 'n', 30);
  TInfocastHeader header;
  ASSERT_TRUE(header.Decode(wire.data(), wire.size()));
  EXPECT_EQ(header.GetName(), std::string(29, 'n'));
  EXPECT_EQ(header.name[29], '\0');
  EXPECT_EQ(header.flags, 0xE003) << "the name must not run into flags";
}

TEST(TInfocastHeaderTest, ConvertNetworkToHostOrderSwapsNumbersAndLeavesNameAlone) {
  // Fill the fields with the wire bytes themselves, as a receiver that copies the buffer
  // does, then convert: type 0x0001 arrives as the bytes 00 01.
  const uint8_t type[] = {0x00, 0x01};
  const uint8_t precoding[] = {0x00, 0x04};
  const uint8_t number[] = {0x00, 0x00, 0x01, 0x02};
  const uint8_t count[] = {0x01, 0x00, 0x00, 0x00};
  const uint8_t flags[] = {0x40, 0x02};
  TInfocastHeader header;
  std::memcpy(&header.type, type, 2);
  std::memcpy(&header.precoding, precoding, 2);
  std::memcpy(&header.packetNumber, number, 4);
  std::memcpy(&header.packetCount, count, 4);
  std::memcpy(&header.flags, flags, 2);
  header.SetName("var.utctime");
  header.ConvertNetworkToHostOrder();
  EXPECT_EQ(header.type, 0x0001);
  EXPECT_EQ(header.precoding, 0x0004);
  EXPECT_EQ(header.packetNumber, 0x0102u);
  EXPECT_EQ(header.packetCount, 0x01000000u);
  EXPECT_EQ(header.flags, 0x4002);
  EXPECT_EQ(header.GetName(), "var.utctime");
}

TEST(TInfocastHeaderTest, EncodeWritesBigEndianWireBytesThatDecodeBack) {
  TInfocastHeader header;
  ASSERT_TRUE(header.Decode(WireHeader().data(), TInfocastHeader::kSize));
  uint8_t buffer[TInfocastHeader::kSize + 1];
  header.Encode(buffer + 1);
  const std::vector<uint8_t> wire = WireHeader();
  EXPECT_EQ(std::vector<uint8_t>(buffer + 1, buffer + 1 + TInfocastHeader::kSize), wire);
}

TEST(TInfocastHeaderTest, CopyAndAssignmentCutAnUnterminatedNameAndTerminateIt) {
  TInfocastHeader source;
  source.type = 2;
  source.precoding = 0x4000;
  source.packetNumber = 3;
  source.packetCount = 9;
  source.flags = 0x2001;
  std::memset(source.name, 'x', sizeof source.name);  // no terminator at all

  TInfocastHeader assigned;
  std::memset(assigned.name, 'y', sizeof assigned.name);
  assigned = source;
  const TInfocastHeader copied(source);
  const TInfocastHeader* const headers[] = {&assigned, &copied};
  for (const TInfocastHeader* header : headers) {
    EXPECT_EQ(header->type, 2);
    EXPECT_EQ(header->precoding, 0x4000);
    EXPECT_EQ(header->packetNumber, 3u);
    EXPECT_EQ(header->packetCount, 9u);
    EXPECT_EQ(header->flags, 0x2001);
    EXPECT_EQ(header->name[29], '\0');
    EXPECT_EQ(header->GetName(), std::string(29, 'x'));
  }
}

TEST(TInfocastHeaderTest, SetNameCutsAtTwentyNineCharacters) {
  TInfocastHeader header;
  header.SetName(std::string(40, 'a'));
  EXPECT_EQ(header.GetName(), std::string(29, 'a'));
  header.SetName("b");
  EXPECT_EQ(header.GetName(), "b") << "a shorter name must clear the old one's tail";
  EXPECT_EQ(header.name[2], '\0');
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
