#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/TException.h"
#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "tests/infocast/InfocastTestDecoder.h"

namespace {

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    data[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return data;
}

const uint16_t kPrecodings[] = {0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x4000};

}  // namespace

// For each precoding, the largest object that fits N datagrams fills every one of them to
// the maximum size, and one byte more needs another datagram.
TEST(TInfocastPacketizerTest, ObjectFillingExactlyNDatagrams) {
  const size_t kMax = 200;
  for (uint16_t precoding : kPrecodings) {
    for (bool filters : {false, true}) {
      TInfocastPacketizer packetizer(0x0001, precoding, "fill", kMax);
      if (filters) {
        packetizer.SetTimeFilter(0, 0xFFFFFFFF);
        packetizer.SetTargetFilter("Z=CET");
      }
      const size_t fixed = 44 + packetizer.GetDynamicHeaderLength();
      const size_t other = kMax - fixed - TInfocastHeader::SignatureLength(precoding, false);
      const size_t last = kMax - fixed - TInfocastHeader::SignatureLength(precoding, true);
      for (size_t n : {1u, 2u, 5u}) {
        const std::string data = Pattern((n - 1) * other + last);
        const std::vector<std::string> datagrams = packetizer.Packetize(data);
        ASSERT_EQ(datagrams.size(), n) << precoding;
        for (const std::string& datagram : datagrams) {
          EXPECT_EQ(datagram.size(), kMax) << precoding << " n=" << n;
        }
        EXPECT_EQ(packetizer.Packetize(data + "+").size(), n + 1) << precoding;
        EXPECT_EQ(packetizer.GetPacketCount(data.size()), n);
      }
    }
  }
}

// Round trip through the test decoder, which reads the datagrams as a box does, over a grid
// of sizes around packet boundaries (an empty object included), precodings, filters (with
// their flags and dynamic header bytes) and datagram sizes.
TEST(TInfocastPacketizerTest, DecodedDatagramsGiveBackTheObject) {
  for (uint16_t precoding : kPrecodings) {
    for (size_t maxSize : {53u, 97u, 1400u}) {
      for (int filters = 0; filters < 4; ++filters) {
        TInfocastPacketizer packetizer(0x0001, precoding, "store.roundtrip", maxSize + 48);
        if (filters & 1) packetizer.SetTimeFilter(100, 200);
        if (filters & 2) packetizer.SetTargetFilter("U!nobody");
        for (size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 52u, 53u, 54u, 1399u, 4096u, 20000u}) {
          const std::string data = Pattern(size);
          const std::vector<std::string> datagrams = packetizer.Packetize(data);
          if (size == 0 && filters == 0 && precoding == 0) {
            ASSERT_EQ(datagrams.size(), 1u) << "an empty object is one bare header";
            EXPECT_EQ(datagrams[0].size(), 44u);
          }
          for (const std::string& datagram : datagrams) {
            ASSERT_LE(datagram.size(), maxSize + 48);
          }
          const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
          ASSERT_EQ(object.error, "") << precoding << "/" << maxSize << "/" << size;
          EXPECT_EQ(object.data, data);
          EXPECT_EQ(object.name, "store.roundtrip");
          EXPECT_EQ(object.type, 0x0001);
          EXPECT_EQ(object.precoding, precoding);
          const uint16_t flags[] = {0x0000, 0x2001, 0x4002, 0x6003};
          EXPECT_EQ(object.flags, flags[filters]);
          EXPECT_EQ(object.timeFilter, filters & 1 ? "00000064000000C8" : "");
          EXPECT_EQ(object.targetFilter, filters & 2 ? "U!nobody" + std::string(24, '\0') : "");
          for (uint32_t early : object.earlySignatures) {
            EXPECT_EQ(early, object.signature) << "0x4000 repeats the object's CRC-32";
          }
        }
      }
    }
  }
}

TEST(TInfocastPacketizerTest, RefusesWhatABoxWouldMisread) {
  EXPECT_NO_THROW(TInfocastPacketizer(1, 4, std::string(29, 'n'), 1400));
  EXPECT_THROW(TInfocastPacketizer(1, 4, std::string(30, 'n'), 1400), TException);
  EXPECT_THROW(TInfocastPacketizer(1, 4, std::string("a\0b", 3), 1400), TException);
  TInfocastPacketizer packetizer(1, 4, "n", 1400);
  EXPECT_NO_THROW(packetizer.SetTargetFilter("Z=" + std::string(29, 'z')));
  EXPECT_THROW(packetizer.SetTargetFilter("Z=" + std::string(30, 'z')), TException)
      << "32 bytes leave no room for the terminator";
  EXPECT_THROW(packetizer.SetTargetFilter("Z"), TException);
  EXPECT_THROW(packetizer.SetTargetFilter(""), TException);
  EXPECT_NO_THROW(packetizer.SetTargetFilter(std::string("H=a\0:", 5)))
      << "bytes after the terminator are the sender's to choose";
  EXPECT_THROW(packetizer.SetTargetFilter(std::string("H=a\0") + std::string(29, ':')), TException);
}

// The datagram size must leave room for a data byte besides headers and signature; a huge
// size gives one datagram of the object's own size.
TEST(TInfocastPacketizerTest, DatagramSizeLimits) {
  // 44 header + 4 signature: 48 bytes leave no data byte for a CRC-32 object.
  const TInfocastPacketizer tight(1, 0x0004, "n", 48);
  EXPECT_THROW(tight.GetPacketCount(0), TException);
  EXPECT_THROW(tight.Packetize("x"), TException);
  // Packet 1 has room for 5 data bytes and takes all three; the last packet carries only the
  // CRC-32, which is a valid packet with an empty slice.
  const std::vector<std::string> datagrams =
      TInfocastPacketizer(1, 0x0004, "n", 49).Packetize("xyz");
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0].size(), 47u);
  EXPECT_EQ(datagrams[1].size(), 48u);
  EXPECT_EQ(DecodeInfocastObject(datagrams).data, "xyz");
  TInfocastPacketizer filtered(1, 0x0000, "n", 44 + 48);
  filtered.SetTimeFilter(0, 1);
  filtered.SetTargetFilter("A=1");
  EXPECT_THROW(filtered.GetPacketCount(1), TException);
  EXPECT_THROW(TInfocastPacketizer(1, 0, "n", 0).GetPacketCount(0), TException);
  const std::vector<std::string> huge =
      TInfocastPacketizer(1, 0x4000, "n", SIZE_MAX).Packetize("abc");
  ASSERT_EQ(huge.size(), 1u);
  EXPECT_EQ(huge[0].size(), 44u + 3 + 4);
}
