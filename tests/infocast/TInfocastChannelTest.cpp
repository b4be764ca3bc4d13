#include <memory>

#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastChannel.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

using test::MakeDatagram;

constexpr uint16_t kCrc16 = TInfocastHeader::kPrecodingCrc16;
constexpr uint16_t kCrc32 = TInfocastHeader::kPrecodingCrc32;

// A channel on 127.0.0.1 (a unicast address: the join fails with one trace and is retried
// every second of the manual clock, while datagrams arrive).
class TInfocastChannelTest : public test::TChannelTest {
 protected:
  TInfocastChannelTest() {
    objects_.values = {{"const.hw.manufacturer", "Acme"},
                       {"const.hw.productname", "Box"},
                       {"cfg._userfilter", "u"}};
  }
  TInfocastChannel& Open(TInfocastChannel::TConnectionType type = TInfocastChannel::Persistent,
                         TInfocastChannel::TMode mode = TInfocastChannel::Normal,
                         unsigned interval = 0, unsigned timeout = 0,
                         const std::string& address = "127.0.0.1") {
    channel_ =
        std::make_unique<TInfocastChannel>(address, port_, type, interval, timeout, 1600, mode,
                                           objects_, aliases_, loop_, clock_, tracker_);
    channel_->SetCallback(&owner_);
    return *channel_;
  }
  test::TFakeAliases aliases_;
  std::unique_ptr<TInfocastChannel> channel_;
};

// Every datagram fault drops exactly that datagram with its trace, and nothing is delivered.
TEST_F(TInfocastChannelTest, EachFaultyDatagramIsDroppedWithItsTrace) {
  Open().AddObject("cfg.a", 1);
  const std::string crc32OfAbc = test::BigEndian32(DoCRC32Ethernet("abc", "abc" + 3));
  TInfocastPacketizer filtered(1, kCrc32, "cfg.a", 1400);
  filtered.SetTargetFilter("U=nobody");
  ExpectEachDropped({
      {"43 bytes", std::string(43, '\0'), "TInfocastChannel: Invalid packet header"},
      {"2000 bytes", MakeDatagram(1, 0, 1, 1, "cfg.a", 0, "", std::string(1956, 'x')),
       "TInfocastChannel: Packet was truncated"},
      {"packet 0", MakeDatagram(1, 0, 0, 1, "cfg.a", 0, "", "x"),
       "TInfocastChannel: Invalid field in header"},
      {"count 0", MakeDatagram(1, 0, 1, 0, "cfg.a", 0, "", "x"),
       "TInfocastChannel: Invalid field in header"},
      {"not wanted", MakeDatagram(1, 0, 1, 1, "cfg.other", 0, "", "x"), nullptr},
      {"packet 2 first", MakeDatagram(1, 0, 2, 2, "cfg.a", 0, "", "x"), nullptr},
      {"wrong type", MakeDatagram(5, 0, 1, 1, "cfg.a", 0, "", "x"),
       "TInfocastChannel: Object 'cfg.a' has wrong type"},
      {"precoding 3", MakeDatagram(1, 3, 1, 1, "cfg.a", 0, "", "x"),
       "TinfocastChannel: Object 'cfg.a' has unsupported precoding"},
      {"D beyond datagram", MakeDatagram(1, 0, 1, 1, "cfg.a", 0xE000, std::string(111, '\0'), ""),
       "TInfocastChannel: Invalid dynamic packet header"},
      {"D too small", MakeDatagram(1, 0, 1, 1, "cfg.a", 0x2003, std::string(16, '0'), "x"),
       "TInfocastChannel: Invalid dynamic packet header"},
      {"no signature", MakeDatagram(1, kCrc32, 1, 1, "cfg.a", 0, "", "abc"),
       "TInfocastChannel: Invalid object signature"},
      {"D beyond datagram, type 2", MakeDatagram(2, 0, 1, 1, "Acme-Box", 0xE000, "", ""), nullptr},
      {"crc16 mismatch", MakeDatagram(1, kCrc16, 1, 1, "cfg.a", 0, "", "abc\xA8\x38"),
       "TInfocastChannel: Checksum error (crc16) in object 'cfg.a'"},
      {"crc32 mismatch", MakeDatagram(1, kCrc32, 1, 1, "cfg.a", 0, "", "abd" + crc32OfAbc),
       "TInfocastChannel: Checksum error (crc32_ethernet) in object 'cfg.a'"},
      {"target filter", filtered.Packetize(std::string("v"))[0], nullptr},
  });
  // A 155-byte datagram announcing 112 bytes of dynamic header fails; 156 bytes passes.
  tracker_.messages.clear();
  Send(MakeDatagram(1, 0, 1, 1, "cfg.a", 0xE000, std::string(112, '\0'), ""));
  EXPECT_FALSE(tracker_.Holds(TTracker::kError, "Invalid dynamic packet header"));
  EXPECT_EQ(owner_.Count("object"), 1u);
}

TEST_F(TInfocastChannelTest, TimeFilterOutsideNowWithdrawsTheObject) {
  Open().AddObject("cfg.a", 1);
  TInfocastPacketizer expired(1, kCrc32, "cfg.a", 1400);
  expired.SetTimeFilter(0, 1000);
  Send(expired.Packetize(std::string("v")));
  ASSERT_EQ(owner_.calls.size(), 1u);
  EXPECT_EQ(owner_.calls[0].what + "=" + owner_.calls[0].value, "object=");
  TInfocastPacketizer valid(1, kCrc32, "cfg.a", 1400);
  valid.SetTimeFilter(0, 0xFFFFFFFF);
  valid.SetTargetFilter("H=Acme-Box");
  objects_.values["var.ip.eth0.addr"] = "10.0.0.1";
  Send(valid.Packetize(std::string("v")));
  EXPECT_EQ(owner_.held["cfg.a"], "v");
}

TEST_F(TInfocastChannelTest, UnchangedCrc32ObjectsAreShortCutButCrc16OnesAreCompared) {
  TInfocastChannel& channel = Open();
  channel.AddObject("cfg.a", 1);
  channel.AddObject("cfg.b", 1);
  Send(Object("cfg.a", "same", kCrc32));
  Send(Object("cfg.a", "same", kCrc32));
  Send(Object("cfg.b", "same", kCrc16));
  Send(Object("cfg.b", "same", kCrc16));
  EXPECT_EQ(owner_.Count("compare"), 3u) << "cfg.a once, cfg.b twice";
  EXPECT_EQ(owner_.Count("object"), 2u);
  // A changed value gets through, and AddObject forgets the signature.
  Send(Object("cfg.a", "other", kCrc32));
  channel.AddObject("cfg.a", 1);
  owner_.held.clear();
  Send(Object("cfg.a", "other", kCrc32));
  EXPECT_EQ(owner_.Count("object"), 4u);
}

// Aliases translate ordinary names only.
TEST_F(TInfocastChannelTest, MetaChannelObjectsArriveUnderTheirFixedNames) {
  aliases_.aliases = {{"old.name", "cfg.new"}, {"infocast2.conf", "cfg.conf"}};
  struct TCase {
    TInfocastChannel::TMode mode;
    uint16_t type;
    const char* sentName;
    const char* wanted;
    const char* call;  // expected call kind, nullptr: none
  } cases[] = {
      {TInfocastChannel::Opch, 0x0000, "Acme-Box", "_metachannel.infocastinfo", "directory"},
      {TInfocastChannel::Opch, 0xC000, "Acme-Box", "_metachannel.infocastinfo", "folder"},
      {TInfocastChannel::Opch, 0xC000, "sub.dir", "sub.dir", "folder"},
      {TInfocastChannel::Opch, 0x0000, "Other-Box", "Other-Box", nullptr},
      {TInfocastChannel::Opch, 0x0001, "infocast2.conf", "_metachannel.infocast2.conf", nullptr},
      {TInfocastChannel::Normal, 0x0001, "infocast2.conf", "_metachannel.infocast2.conf",
       "directory"},
      {TInfocastChannel::Normal, 0x0002, "Acme-Box", "_metachannel.bootcastinfo", "object"},
      {TInfocastChannel::Normal, 0x0002, "Other-Box", "_metachannel.bootcastinfo", nullptr},
      {TInfocastChannel::Opch, 0x0007, "whatever", "_metachannel.utctime", "object"},
      {TInfocastChannel::Normal, 0x0000, "Acme-Box", "Acme-Box", "object"},
      {TInfocastChannel::Normal, 0x0001, "old.name", "cfg.new", "object"},
  };
  for (const TCase& c : cases) {
    owner_.calls.clear();
    owner_.held.clear();
    TInfocastChannel& channel = Open(TInfocastChannel::Persistent, c.mode);
    channel.AddObject(c.wanted, c.type);
    Send(Object(c.sentName, "value", kCrc16, c.type));
    const std::string label = std::string(c.sentName) + " type " + std::to_string(c.type);
    if (!c.call) {
      EXPECT_EQ(owner_.Count("object") + owner_.Count("directory") + owner_.Count("folder"), 0u)
          << label;
      continue;
    }
    ASSERT_EQ(owner_.calls.size(), 2u) << label;
    const auto& call = owner_.calls[1];
    EXPECT_EQ(call.what + " " + call.name + "=" + call.value,
              std::string(c.call) + " " + c.wanted + "=value")
        << label;
  }
}

TEST_F(TInfocastChannelTest, ProductIdentifierFallsBackToTheDefaults) {
  struct TCase {
    const char* manufacturer;  // nullptr: object missing
    const char* productName;
    const char* identifier;
  } cases[] = {
      {"Acme", "Box", "Acme-Box"},
      {"", "", "velmora-nm-box-rev-2"},
      {"Velmora", "X1", "velmora-X1"},
      {nullptr, nullptr, "velmora-nm-box-rev-2"},
  };
  for (const TCase& c : cases) {
    objects_.values.clear();
    if (c.manufacturer) objects_.values["const.hw.manufacturer"] = c.manufacturer;
    if (c.productName) objects_.values["const.hw.productname"] = c.productName;
    Open().AddObject("cfg.a", 1);
    Send(std::string(43, '\0'));
    EXPECT_EQ(channel_->GetProductIdentifier(), c.identifier);
  }
}

// Counted: every datagram past the header checks and the meta-channel drops, wanted or not.
TEST_F(TInfocastChannelTest, StatisticsCountWhatPassesTheHeaderAndRenameSteps) {
  TInfocastChannel& channel = Open(TInfocastChannel::Persistent, TInfocastChannel::Opch);
  channel.AddObject("cfg.a", 1);
  const std::string wanted = Object("cfg.a", "v")[0];
  const std::string unwanted = Object("cfg.zzz", "v")[0];
  const std::string otherFolder = Object("Other-Box", "v", kCrc32, 0xC000)[0];
  Send(std::string(43, '\0'));
  Send(MakeDatagram(1, 0, 0, 1, "cfg.a", 0, "", ""));
  Send(Object("Other-Box", "v", kCrc32, 0x0000));
  Send(Object("Other-Box", "v", kCrc32, 0x0002));
  Send({wanted, unwanted, otherFolder});
  EXPECT_EQ(channel.GetTotalPackets(), 3u);
  EXPECT_EQ(channel.GetTotalBytes(), wanted.size() + unwanted.size() + otherFolder.size());
  clock_.Advance(5000);
  EXPECT_EQ(channel.GetTimeTotal(), 5);
}

TEST_F(TInfocastChannelTest, OnceChannelDisconnectsWhenEverythingWantedArrived) {
  TInfocastChannel& channel = Open(TInfocastChannel::Once);
  channel.AddObject("cfg.a", 1);
  channel.AddObject("cfg.b", 1);
  Send(Object("cfg.a", "1"));
  EXPECT_TRUE(channel.IsConnected());
  Send(Object("cfg.b", "2"));
  EXPECT_FALSE(channel.IsConnected());
  channel.AddObject("cfg.c", 1);
  EXPECT_TRUE(channel.IsConnected());
  channel.DropObject("cfg.c");
  EXPECT_FALSE(channel.IsConnected()) << "the last unreceived object was dropped";
}

TEST_F(TInfocastChannelTest, ReconnectedChannelFollowsIntervalAndTimeout) {
  TInfocastChannel& channel = Open(TInfocastChannel::Reconnected, TInfocastChannel::Normal, 10, 3);
  channel.AddObject("cfg.a", 1);
  channel.AddObject("cfg.b", 1);
  EXPECT_TRUE(channel.IsConnected());
  Send(Object("cfg.a", "1"));
  EXPECT_TRUE(channel.GetObjects().at("cfg.a").marked);
  Advance(1000);  // join retry: reconnects, marks kept
  EXPECT_TRUE(channel.GetObjects().at("cfg.a").marked);
  Advance(2000);  // the timeout
  EXPECT_FALSE(channel.IsConnected());
  EXPECT_FALSE(channel.GetObjects().at("cfg.a").marked);
  EXPECT_EQ(loop_.GetTimeoutCount(), 1u) << "only the interval timer is left";
  Advance(7000);  // the interval
  EXPECT_TRUE(channel.IsConnected());
  Send(Object("cfg.a", "1x"));
  Send(Object("cfg.b", "2"));
  EXPECT_FALSE(channel.IsConnected()) << "all received: early disconnect";
  Advance(10000);
  EXPECT_TRUE(channel.IsConnected());
  Send(Object("cfg.b", "2y"));
  EXPECT_TRUE(channel.IsConnected()) << "a complete window leaves no marks behind";
  EXPECT_EQ(owner_.held["cfg.b"], "2y");
  channel.DropObject("cfg.b");
  EXPECT_TRUE(channel.IsConnected()) << "cfg.a is still wanted";
  channel.DropObject("cfg.a");
  EXPECT_FALSE(channel.IsConnected());
  Advance(20000);
  EXPECT_FALSE(channel.IsConnected()) << "no objects: no interval timer";
}

// Addresses and ports come from configuration received over the network: one that cannot be
// bound is an error and a retry, never the end of the process. A failed join is retried every
// second while datagrams arrive.
TEST_F(TInfocastChannelTest, UnbindableAddressAndFailedJoinAreTracedAndRetried) {
  Open().AddObject("cfg.a", 1);
  const std::string join = "TnfocastChannel: Could not join multicast group '127.0.0.1'; errno = ";
  EXPECT_EQ(tracker_.Count(join), 1u);
  Advance(999);
  EXPECT_EQ(tracker_.Count(join), 1u);
  Advance(1);
  EXPECT_EQ(tracker_.Count(join), 2u);
  EXPECT_EQ(tracker_.Count("Could not leave"), 0u) << "never joined, never left";
  Send(Object("cfg.a", "v"));
  EXPECT_EQ(owner_.held["cfg.a"], "v");
  struct TCase {
    const char* address;
    int port;
    const char* trace;
  } cases[] = {
      {"192.0.2.1", 0, "TInfocastChannel: Could not bind socket; errno = 99"},
      {"not.an.address", 0, "TInfocastChannel: Could not bind socket; errno = 22"},
      {"127.0.0.1", 70000, "TInfocastChannel: Could not bind socket; errno = 22"},
  };
  for (const TCase& c : cases) {
    tracker_.messages.clear();
    port_ = c.port ? c.port : port_;
    TInfocastChannel& channel =
        Open(TInfocastChannel::Persistent, TInfocastChannel::Normal, 0, 0, c.address);
    channel.AddObject("cfg.a", 1);
    EXPECT_FALSE(channel.IsConnected()) << c.address;
    EXPECT_EQ(tracker_.Count(c.trace), 1u) << c.address;
    EXPECT_FALSE(tracker_.Holds(TTracker::kFatal, "")) << c.address;
    Advance(1000);
    EXPECT_EQ(tracker_.Count(c.trace), 2u) << c.address;
    channel_.reset();
    EXPECT_EQ(loop_.GetTimeoutCount(), 0u) << "the destructor stops the retry";
  }
}

}  // namespace
