#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "infocast/TManagementChannel.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

using test::MakeDatagram;

// A management channel on 127.0.0.1 (unicast: the join fails with one trace, datagrams
// arrive all the same). The rules it shares with the Infocast channel are tested there and
// with the datagram engine; here, what the management channel makes of them.
class TManagementChannelTest : public test::TChannelTest {
 protected:
  TManagementChannelTest() { objects_.values = {{"var.ip.eth0.addr", "10.1.2.3"}}; }
  TManagementChannel& Open(const std::string& address = "127.0.0.1") {
    channel_ = std::make_unique<TManagementChannel>(address, port_, 0, 1600, objects_, loop_,
                                                    clock_, tracker_);
    channel_->SetCallback(&owner_);
    channel_->Start();
    return *channel_;
  }
  std::vector<std::string> Delivered() const {
    std::vector<std::string> result;
    for (const auto& call : owner_.calls) {
      if (call.what == "object") result.push_back(call.name + "=" + call.value);
    }
    return result;
  }
  std::unique_ptr<TManagementChannel> channel_;
};

TEST_F(TManagementChannelTest, FaultyDatagramsAreDroppedWithTheirTrace) {
  Open();
  const std::string target = std::string("I=0B000000-0BFFFFFF") + std::string(13, '\0');
  ExpectEachDropped({
      {"43 bytes", std::string(43, '\0'), "TManagementChannel: Invalid packet header"},
      {"type 0xC000", MakeDatagram(0xC000, 0, 1, 1, "m.a", 0, "", "x"),
       "TManagementChannel: Object is of wrong type (49152)"},
      {"both filters in 32", MakeDatagram(1, 0, 1, 1, "m.a", 0x4003, std::string(32, '0'), "x"),
       "TManagementChannel: Invalid dynamic packet header"},
      {"no room for 0x0003", MakeDatagram(1, 3, 1, 1, "m.a", 0, "", std::string(19, 's')),
       "TManagementChannel: Invalid object signature"},
      {"target elsewhere", MakeDatagram(1, 0, 1, 1, "m.a", 0x4002, target, "x"), nullptr},
  });
}

// What arrives whole is delivered once per value, in both types, whatever the precoding;
// a lost first packet loses the object until its next transmission.
TEST_F(TManagementChannelTest, CompleteObjectsAreDeliveredOncePerValue) {
  Open();
  const std::vector<std::string> two = Object("m.two", std::string(2000, 't'));
  ASSERT_EQ(2u, two.size());
  Send(two[1]);
  Send(MakeDatagram(1, 0, 1, 1, "m.plain", 0, "", "one"));
  Send(MakeDatagram(1, 0, 1, 1, "m.plain", 0, "", "one"));
  Send(MakeDatagram(0xC001, 0, 1, 1, "m.plain", 0, "", "two"));
  // 0x4000: 4 bytes of CRC-32 in every packet, only the last compared.
  Send(Object("m.every", std::string(3000, 'e'), TInfocastHeader::kPrecodingCrc32EveryPacket));
  Send(Object("m.crc16", "sixteen", TInfocastHeader::kPrecodingCrc16));
  // 0x0003: 20 trailing bytes taken off and never verified.
  Send(MakeDatagram(1, 3, 1, 2, "m.three", 0, "", "ab"));
  Send(MakeDatagram(1, 3, 2, 2, "m.three", 0, "", "cd" + std::string(20, '?')));
  // Filter flags with no dynamic header: nothing to evaluate.
  Send(MakeDatagram(1, 0, 1, 1, "m.flags", 0x0003, "", "f"));
  Send(MakeDatagram(1, 0, 1, 1, std::string(30, 'n'), 0, "", "long"));  // read as 29
  Send(two);
  EXPECT_EQ(
      (std::vector<std::string>{"m.plain=one", "m.plain=two", "m.every=" + std::string(3000, 'e'),
                                "m.crc16=sixteen", "m.three=abcd", "m.flags=f",
                                std::string(29, 'n') + "=long", "m.two=" + std::string(2000, 't')}),
      Delivered());
  EXPECT_EQ(9u, owner_.Count("compare"));
  EXPECT_EQ(0u, tracker_.Count("Checksum"));
}

// The address comes from a client: one this box cannot bind, or one that is not dotted IPv4,
// leaves the channel closed with an error trace, and Start may try again.
TEST_F(TManagementChannelTest, UnusableAddressesLeaveTheChannelClosed) {
  const std::pair<const char*, const char*> cases[] = {
      {"192.0.2.1", "Could not bind socket; errno = "},
      {"localhost", "Address 'localhost' is not a dotted IPv4 address"},
      {"", "Address '' is not a dotted IPv4 address"}};
  for (const auto& [address, trace] : cases) {
    channel_.reset();
    tracker_.messages.clear();
    EXPECT_FALSE(Open(address).IsConnected()) << address;
    EXPECT_EQ(1u, tracker_.Count(std::string("TManagementChannel: ") + trace)) << address;
    EXPECT_EQ(TTracker::kError, tracker_.messages.back().first) << address;
  }
  Open();
  EXPECT_TRUE(channel_->IsConnected());
  channel_->Stop();
  EXPECT_FALSE(channel_->IsConnected());
  channel_->Start();
  EXPECT_TRUE(channel_->IsConnected());
}

}  // namespace
