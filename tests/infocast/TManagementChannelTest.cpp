#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastPacketizer.h"
#include "infocast/TManagementChannel.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

using test::MakeDatagram;

constexpr uint16_t kCrc16 = TInfocastHeader::kPrecodingCrc16;
constexpr uint16_t kCrc32 = TInfocastHeader::kPrecodingCrc32;

// A management channel on 127.0.0.1 (unicast: the join fails with one trace, datagrams
// arrive all the same) fed by a sender socket, with the manual clock for time filters.
class TManagementChannelTest : public ::testing::Test {
 protected:
  TManagementChannelTest() : loop_(clock_), sender_("127.0.0.1", 0) {
    port_ = TUdpSocket("127.0.0.1", 0).GetPort();
    objects_.values = {{"var.ip.eth0.addr", "10.1.2.3"}};
    clock_.SetWallSeconds(1700000100);
  }

  TManagementChannel& Open(const std::string& address = "127.0.0.1") {
    channel_ = std::make_unique<TManagementChannel>(address, port_, 0, 1600, objects_, loop_,
                                                    clock_, tracker_);
    channel_->SetCallback(&owner_);
    channel_->Start();
    return *channel_;
  }

  void Send(const std::string& datagram) { test::SendAndServe(sender_, port_, datagram, loop_); }
  void Send(const std::vector<std::string>& datagrams) {
    for (const std::string& datagram : datagrams) Send(datagram);
  }
  static std::vector<std::string> Object(const std::string& name, const std::string& value,
                                         uint16_t precoding = kCrc32, size_t maxSize = 1400) {
    return TInfocastPacketizer(1, precoding, name, maxSize).Packetize(value);
  }
  size_t Traced(const std::string& part) const {
    size_t count = 0;
    for (const auto& message : tracker_.messages)
      count += message.second.find(part) != std::string::npos;
    return count;
  }
  std::vector<std::string> Delivered() const {
    std::vector<std::string> result;
    for (const auto& call : owner_.calls) {
      if (call.what == "object") result.push_back(call.name + "=" + call.value);
    }
    return result;
  }

  TManualClock clock_;
  TEpollEventLoop loop_;
  TUdpSocket sender_;
  int port_ = 0;
  test::TFakeObjects objects_;
  test::TRecordingOwner owner_;
  test::TRecordingTracker tracker_;
  std::unique_ptr<TManagementChannel> channel_;
};

// Every datagram fault drops exactly that datagram with its trace (or silently), and nothing
// reaches the receiver.
TEST_F(TManagementChannelTest, EachFaultyDatagramIsDroppedWithItsTrace) {
  Open();
  const std::string crc32OfAbc = test::BigEndian32(DoCRC32Ethernet("abc", "abc" + 3));
  const std::string target = std::string("I=0B000000-0BFFFFFF") + std::string(13, '\0');
  struct TCase {
    const char* label;
    std::string datagram;
    const char* trace;  // Error trace expected; nullptr: dropped silently
  } cases[] = {
      {"43 bytes", std::string(43, '\0'), "TManagementChannel: Invalid packet header"},
      {"2000 bytes", MakeDatagram(1, 0, 1, 1, "m.a", 0, "", std::string(1956, 'x')),
       "TManagementChannel: Packet was truncated"},
      {"packet 0", MakeDatagram(1, 0, 0, 1, "m.a", 0, "", "x"),
       "TManagementChannel: Invalid field in header"},
      {"count 0", MakeDatagram(1, 0, 1, 0, "m.a", 0, "", "x"),
       "TManagementChannel: Invalid field in header"},
      {"type 2", MakeDatagram(2, 0, 1, 1, "m.a", 0, "", "x"),
       "TManagementChannel: Object is of wrong type (2)"},
      {"type 0xC000", MakeDatagram(0xC000, 0, 1, 1, "m.a", 0, "", "x"),
       "TManagementChannel: Object is of wrong type (49152)"},
      {"both filters in 32", MakeDatagram(1, 0, 1, 1, "m.a", 0x4003, std::string(32, '0'), "x"),
       "TManagementChannel: Invalid dynamic packet header"},
      {"D beyond datagram", MakeDatagram(0xC001, 0, 1, 1, "m.a", 0xE000, std::string(50, '0'), ""),
       "TManagementChannel: Invalid dynamic packet header"},
      {"no signature", MakeDatagram(1, kCrc32, 1, 1, "m.a", 0, "", "abc"),
       "TManagementChannel: Invalid object signature"},
      {"no room for 0x0003", MakeDatagram(1, 3, 1, 1, "m.a", 0, "", std::string(19, 's')),
       "TManagementChannel: Invalid object signature"},
      {"crc16 mismatch", MakeDatagram(1, kCrc16, 1, 1, "m.a", 0, "", "abc\xA8\x38"),
       "TManagementChannel: Checksum error (crc16) in object"},
      {"crc32 mismatch", MakeDatagram(1, kCrc32, 1, 1, "m.a", 0, "", "abd" + crc32OfAbc),
       "TManagementChannel: Checksum error (crc32_ethernet) in object"},
      {"packet 2 first", MakeDatagram(1, 0, 2, 2, "m.b", 0, "", "x"), nullptr},
      {"target elsewhere", MakeDatagram(1, 0, 1, 1, "m.a", 0x4002, target, "x"), nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    tracker_.messages.clear();
    Send(c.datagram);
    if (c.trace) {
      EXPECT_EQ(1u, Traced(c.trace));
      EXPECT_EQ(1u, tracker_.messages.size());
    } else {
      EXPECT_TRUE(tracker_.messages.empty()) << tracker_.messages.front().second;
    }
  }
  // A checksum error is detected before the receiver is even asked.
  EXPECT_TRUE(owner_.calls.empty());
}

// What arrives whole is delivered once per value, in both types, whatever the precoding.
TEST_F(TManagementChannelTest, CompleteObjectsAreDeliveredOncePerValue) {
  Open();
  Send(MakeDatagram(1, 0, 1, 1, "m.plain", 0, "", "one"));
  Send(MakeDatagram(1, 0, 1, 1, "m.plain", 0, "", "one"));
  Send(MakeDatagram(0xC001, 0, 1, 1, "m.plain", 0, "", "two"));
  // 0x4000: 4 bytes of CRC-32 in every packet, only the last compared.
  Send(Object("m.every", std::string(3000, 'e'), TInfocastHeader::kPrecodingCrc32EveryPacket));
  Send(Object("m.crc16", "sixteen", kCrc16));
  // 0x0003: 20 trailing bytes taken off and never verified.
  Send(MakeDatagram(1, 3, 1, 2, "m.three", 0, "", "ab"));
  Send(MakeDatagram(1, 3, 2, 2, "m.three", 0, "", "cd" + std::string(20, '?')));
  // Filter flags with no dynamic header: nothing to evaluate.
  Send(MakeDatagram(1, 0, 1, 1, "m.flags", 0x0003, "", "f"));
  // A 30-character name reads as 29.
  Send(MakeDatagram(1, 0, 1, 1, std::string(30, 'n'), 0, "", "long"));
  EXPECT_EQ((std::vector<std::string>{"m.plain=one", "m.plain=two",
                                      "m.every=" + std::string(3000, 'e'), "m.crc16=sixteen",
                                      "m.three=abcd", "m.flags=f", std::string(29, 'n') + "=long"}),
            Delivered());
  EXPECT_EQ(8u, owner_.Count("compare"));
  EXPECT_EQ(0u, Traced("Checksum"));
}

// Sequences: a lost first packet loses the object until its next transmission; a new packet 1
// restarts the assembly, so only the second run's payloads count.
TEST_F(TManagementChannelTest, ReassemblyFollowsPacketOneAndTheNextNumber) {
  Open();
  const std::vector<std::string> two = Object("m.two", std::string(2000, 't'));
  ASSERT_EQ(2u, two.size());
  tracker_.messages.clear();
  Send(two[1]);
  EXPECT_TRUE(owner_.calls.empty());
  EXPECT_TRUE(tracker_.messages.empty());
  Send(two);
  Send(MakeDatagram(1, 0, 1, 3, "m.three", 0, "", "old1-"));
  Send(MakeDatagram(1, 0, 2, 3, "m.three", 0, "", "old2-"));
  Send(MakeDatagram(1, 0, 1, 3, "m.three", 0, "", "new1-"));
  Send(MakeDatagram(1, 0, 2, 3, "m.three", 0, "", "new2-"));
  Send(MakeDatagram(1, 0, 3, 3, "m.three", 0, "", "new3"));
  EXPECT_EQ((std::vector<std::string>{"m.two=" + std::string(2000, 't'), "m.three=new1-new2-new3"}),
            Delivered());
}

// A time filter outside its window withdraws the object without a compare or a checksum; a
// target filter that matches lets it through.
TEST_F(TManagementChannelTest, FiltersWithdrawOrPass) {
  Open();
  TInfocastPacketizer expired(1, kCrc32, "m.timed", 1400);
  expired.SetTimeFilter(1600000000, 1600000001);
  Send(expired.Packetize("gone"));
  EXPECT_EQ(1u, owner_.calls.size());
  EXPECT_EQ("object", owner_.calls[0].what);
  EXPECT_EQ("", owner_.calls[0].value);
  TInfocastPacketizer both(1, kCrc32, "m.timed", 1400);
  both.SetTimeFilter(1700000000, 1700000200);
  both.SetTargetFilter("I=0A000000-0AFFFFFF");
  Send(both.Packetize("here"));
  EXPECT_EQ((std::vector<std::string>{"m.timed=", "m.timed=here"}), Delivered());
}

// The address comes from a client: one this box cannot bind, or one that is not dotted IPv4,
// leaves the channel closed with an error trace, and Start may try again.
TEST_F(TManagementChannelTest, UnusableAddressesLeaveTheChannelClosed) {
  struct TCase {
    const char* address;
    const char* trace;
  } cases[] = {
      {"192.0.2.1", "TManagementChannel: Could not bind socket; errno = "},
      {"localhost", "TManagementChannel: Address 'localhost' is not a dotted IPv4 address"},
      {"", "TManagementChannel: Address '' is not a dotted IPv4 address"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.address);
    tracker_.messages.clear();
    EXPECT_FALSE(Open(c.address).IsConnected());
    EXPECT_EQ(1u, Traced(c.trace));
    EXPECT_EQ(TTracker::kError, tracker_.messages.back().first);
  }
  Open();
  EXPECT_TRUE(channel_->IsConnected());
  EXPECT_EQ(1u, Traced("TnfocastChannel: Could not join multicast group '127.0.0.1'"));
  channel_->Stop();
  EXPECT_FALSE(channel_->IsConnected());
  channel_->Start();
  EXPECT_TRUE(channel_->IsConnected());
}

}  // namespace
