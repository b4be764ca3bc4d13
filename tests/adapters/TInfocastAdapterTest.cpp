#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "adapters/TInfocastAdapter.h"
#include "adapters/TVolatileAdapter.h"
#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"
#include "service/ILocalInformationMonitor.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

using test::TRecordingTracker;

constexpr uint16_t kCrc32 = TInfocastHeader::kPrecodingCrc32;
// What the meta channel computes for a box without manufacturer and product name.
constexpr const char* kProduct = "velmora-nm-box-rev-2";

class TUpdates final : public ILocalInformationMonitor {
 public:
  void SetOwner(TInformationService*) override {}
  bool ObjectUpdate(const std::string& name) override {
    names.push_back(name);
    return true;
  }
  std::vector<std::string> names;
};

uint16_t FreePort() { return TUdpSocket("127.0.0.1", 0).GetPort(); }

// The adapter in a service (behind a volatile adapter, which keeps the published statistics,
// as in the daemon), its channels on 127.0.0.1 fed by a sender socket, the loop on the manual
// clock. A unicast group cannot be joined: each channel traces that and retries, and receives.
class TInfocastAdapterTest : public ::testing::Test {
 protected:
  TInfocastAdapterTest()
      : loop_(clock_), sender_("127.0.0.1", 0), metaPort_(FreePort()), port2_(FreePort()) {}

  void Start(TInfocastChannel::TMode mode, const std::string& address = "") {
    service_.SetAddressCheck(false);
    service_.AddMonitor(&updates_);
    service_.AddAdapter(new TVolatileAdapter());
    adapter_ = new TInfocastAdapter(
        address.empty() ? "127.0.0.1:" + std::to_string(metaPort_) : address, root_.File("address"),
        1600, mode, &service_, &service_, nullptr, &loop_, clock_);
    service_.AddAdapter(adapter_);
    service_.Start();
  }

  void Send(uint16_t port, const std::vector<std::string>& datagrams) {
    for (const std::string& datagram : datagrams)
      test::SendAndServe(sender_, port, datagram, loop_);
    loop_.RunOnce(0);  // the release of what a rebuild retired
  }
  void SendObject(uint16_t port, const std::string& name, const std::string& value,
                  uint16_t type = 1) {
    Send(port, TInfocastPacketizer(type, kCrc32, name, 1400).Packetize(value));
  }
  void SendRoot(const std::string& text) { SendObject(metaPort_, "infocast2.conf", text); }
  void Advance(int64_t milliseconds) {
    clock_.Advance(milliseconds);
    loop_.RunOnce(0);
  }

  std::string Get(const std::string& name) {
    std::string value = "<none>";
    try {
      service_.GetObject(name, value);
    } catch (const TException&) {
    }
    return value;
  }
  bool Wanted(TInfocastChannel* channel, const std::string& name) const {
    return channel != nullptr && channel->GetObjects().count(name) != 0;
  }
  TInfocastChannel* Channel(uint16_t port) const {
    const auto found = adapter_->GetChannels().find("127.0.0.1:" + std::to_string(port));
    return found == adapter_->GetChannels().end() ? nullptr : found->second.get();
  }
  TRecordingTracker& Tracker() { return scoped_.Tracker(); }
  size_t Traced(const std::string& part) {
    size_t count = 0;
    for (const auto& message : Tracker().messages) {
      count += message.second.find(part) != std::string::npos;
    }
    return count;
  }
  std::string Xml(const std::string& objects, const std::string& channel = "Persistent") const {
    return "<Infocast><Channel address=\"127.0.0.1\" port=\"" + std::to_string(port2_) +
           "\" connection=\"" + channel + "\">" + objects + "</Channel></Infocast>";
  }

  test::TScopedProcessTracker scoped_;
  test::TTempDir root_;
  TManualClock clock_;
  TEpollEventLoop loop_;
  TSubscriptionList subscriptions_{
      nullptr, [](const std::string&, TSubscriptionList::TNotification, const TStringList&) {}};
  TInformationService service_{"", &subscriptions_};
  TUpdates updates_;
  TUdpSocket sender_;
  uint16_t metaPort_;
  uint16_t port2_;
  TInfocastAdapter* adapter_ = nullptr;
};

// ---- Configuration texts ----

TEST_F(TInfocastAdapterTest, XmlConfigurationChecksEachRuleInOrder) {
  Start(TInfocastChannel::Normal);
  TInfocastDirectory directory("root", Tracker());
  const std::string channel = "<Channel address=\"239.1.1.1\" port=\"5000\" ";
  struct TCase {
    std::string text;
    const char* error;  // nullptr: accepted
    size_t records;
  } cases[] = {
      {"<Other/>", "Unknown root element in infocast configuration", 0},
      {"<Infocast><Object/></Infocast>", "Unknown element in infocast configuration", 0},
      {"<Infocast><Channel port=\"1\"/></Infocast>", "Channel has no address attribute", 0},
      {"<Infocast><Channel address=\"239.1.1\" port=\"1\"/></Infocast>",
       "Channel has an invalid IP address", 0},
      {"<Infocast><Channel address=\"239.1.1.1\"/></Infocast>", "Channel has no port attribute", 0},
      {"<Infocast><Channel address=\"239.1.1.1\" port=\"0\"/></Infocast>",
       "Channel has invalid port number", 0},
      {"<Infocast><Channel address=\"239.1.1.1\" port=\"65536\"/></Infocast>",
       "Channel has invalid port number", 0},
      {"<Infocast>" + channel + "/></Infocast>", "Channel has no connection attribute", 0},
      {"<Infocast>" + channel + "connection=\"Sometimes\"/></Infocast>",
       "Channel has unknown connection type", 0},
      {"<Infocast>" + channel + "connection=\"Reconnected\"/></Infocast>",
       "Channel has no interval attribute", 0},
      {"<Infocast>" + channel + "connection=\"Reconnected\" interval=\"1\"/></Infocast>",
       "Channel has invalid interval value", 0},
      {"<Infocast>" + channel + "connection=\"Reconnected\" interval=\"86401\"/></Infocast>",
       "Channel has invalid interval value", 0},
      {"<Infocast>" + channel + "connection=\"Reconnected\" interval=\"60\"/></Infocast>",
       "Channel has no timeout attribute", 0},
      {"<Infocast>" + channel +
           "connection=\"Reconnected\" interval=\"60\" timeout=\"60\"/></Infocast>",
       "Channel has invalid timeout value", 0},
      {"<Infocast>" + channel +
           "connection=\"Reconnected\" interval=\"60\" timeout=\"0\"/></Infocast>",
       "Channel has invalid timeout value", 0},
      {"<Infocast>" + channel +
           "connection=\"Reconnected\" interval=\"86400\" timeout=\"86399\">"
           "<Object name=\"a\" fetch=\"Prefetch\"/></Channel></Infocast>",
       nullptr, 1},
      {"<Infocast>" + channel +
           "connection=\"Once\" interval=\"abc\">"
           "<Object name=\"a\" fetch=\"Prefetch\"/></Channel></Infocast>",
       nullptr, 1},
      {"<Infocast>" + channel + "connection=\"Once\"><Channel/></Channel></Infocast>",
       "Unknown element in infocast configuration", 0},
      {"<Infocast>" + channel +
           "connection=\"Once\"><Object fetch=\"Prefetch\"/>"
           "</Channel></Infocast>",
       "Object has no name attribute", 0},
      {"<Infocast>" + channel + "connection=\"Once\"><Object name=\"a\"/></Channel></Infocast>",
       "Object has no fetch attribute", 0},
      {"<Infocast>" + channel +
           "connection=\"Once\"><Object name=\"a\" fetch=\"Now\"/>"
           "</Channel></Infocast>",
       "Object has invalid fetch value", 0},
      {"<Infocast>" + channel +
           "connection=\"Once\"><Object name=\"a\" fetch=\"OnRequest\"/>"
           "</Channel></Infocast>",
       "Object has no countref attribute", 0},
      {"<Infocast>" + channel +
           "connection=\"Once\"><Object name=\"a\" fetch=\"OnRequest\" "
           "countref=\"yes\"/></Channel></Infocast>",
       "Object has invalid countref value", 0},
      // What was made before a failure stays.
      {"<Infocast>" + channel +
           "connection=\"Once\"><Object name=\"a\" fetch=\"OnRequest\" "
           "countref=\"true\"/><Object name=\"b\"/></Channel></Infocast>",
       "Object has no fetch attribute", 1},
      {"<Infocast", "", 0},  // not well-formed: the parser's own text
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    // A fresh adapter per text: records and channels of the previous case are gone.
    TInfocastAdapter adapter("", "", 1600, TInfocastChannel::Normal, &service_, &service_, nullptr,
                             &loop_, clock_);
    Tracker().messages.clear();
    adapter.ParseXMLConfiguration(c.text, &directory);
    if (c.error != nullptr) {
      EXPECT_TRUE(Tracker().Holds(TTracker::kError, std::string("TInfocastAdapter: ") + c.error));
    } else {
      EXPECT_EQ(0u, Traced("TInfocastAdapter:"));
    }
    EXPECT_EQ(c.records, adapter.GetObjectRecords().size());
  }
}

TEST_F(TInfocastAdapterTest, XmlRecordsCarryFetchRulesAndChannelsAreSharedPerAddressAndPort) {
  Start(TInfocastChannel::Normal);
  TInfocastDirectory directory("root", Tracker());
  adapter_->ParseXMLConfiguration(
      "<Infocast><Channel address=\"239.1.1.1\" port=\"5000\" connection=\"Once\">"
      "<Object name=\"p\" fetch=\"Prefetch\"/>"
      "<Object name=\"r\" fetch=\"OnRequest\" countref=\"true\"/></Channel>"
      "<Channel address=\"239.1.1.1\" port=\"5000\" connection=\"Persistent\">"
      "<Object name=\"q\" fetch=\"OnRequest\" countref=\"false\"/></Channel>"
      "<Channel address=\"239.1.1.1\" port=\"5001\" connection=\"Persistent\"/></Infocast>",
      &directory);
  const auto& records = adapter_->GetObjectRecords();
  ASSERT_EQ(3u, records.size());
  EXPECT_TRUE(records.at("p").prefetch && !records.at("p").countref);
  EXPECT_TRUE(!records.at("r").prefetch && records.at("r").countref);
  EXPECT_TRUE(!records.at("q").prefetch && !records.at("q").countref);
  EXPECT_EQ(records.at("p").channel, records.at("q").channel);
  EXPECT_EQ(&directory, records.at("q").directory);
  EXPECT_EQ(2u, adapter_->GetChannels().size());
  // The second element under the same key got the first one's channel, unchanged.
  EXPECT_EQ(records.at("q").channel,
            adapter_->AddNewChannel("239.1.1.1", 5000, TInfocastChannel::Reconnected, 9, 3));
}

TEST_F(TInfocastAdapterTest, ExtendedEntriesParseWithTheirWarnings) {
  Start(TInfocastChannel::Normal);
  struct TCase {
    std::string entry;
    bool ok;
    int type;
    const char* name;
    const char* address;
    int port;
    const char* warning;
  } cases[] = {
      {"1'cfg.x", true, 1, "cfg.x", "", 0, nullptr},
      {"  C000'sub dir '239.1.1.1:5000", true, 0xC000, "sub dir", "239.1.1.1", 5000, nullptr},
      {"1 x'  name more", true, 1, "name", "", 0, nullptr},
      {"1' name '  10.0.0.1:  77", true, 1, "name", "10.0.0.1", 77, nullptr},
      {"1 var.x", false, 0, "", "", 0, "Didn't found a spearator between type and name"},
      {"   ", false, 0, "", "", 0, "Didn't found a spearator between type and name"},
      {"1'a'239.1.1.1", false, 1, "a", "", 0, "Didn't find a colon in the ip:port portion"},
      {"FFFFFFFFFFFF'a", true, INT_MAX, "a", "", 0, nullptr},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.entry);
    Tracker().messages.clear();
    int type = -1;
    int port = -1;
    std::string name = "old";
    std::string address = "old";
    EXPECT_EQ(c.ok,
              adapter_->ParseExtendedConfigurationLine(c.entry, &type, &name, &address, &port));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.name, name);
    EXPECT_EQ(c.address, address);
    EXPECT_EQ(c.port, port);
    if (c.warning != nullptr) {
      EXPECT_TRUE(Tracker().Holds(TTracker::kWarning, c.warning));
    }
  }

  // A whole text: a bad type is skipped, an entry without apostrophe ends the text.
  TInfocastDirectory directory("root", Tracker());
  TInfocastChannel* carrier = adapter_->GetMetaChannel();
  adapter_->ParseExtendedConfiguration(
      "comment \"1'cfg.x\" \"C000'sub dir '239.1.1.1:5000\" \"7'var.x\" \"1'var.y\" "
      "\"1 var.z\" \"1'var.w\"",
      &directory, carrier);
  const auto& records = adapter_->GetObjectRecords();
  EXPECT_EQ((std::vector<std::string>{"cfg.x", "sub dir", "var.y"}), [&] {
    std::vector<std::string> names;
    for (const auto& record : records) names.push_back(record.first);
    return names;
  }());
  EXPECT_TRUE(Tracker().Holds(TTracker::kWarning, "Objects with type 7 is not supported"));
  // No address: a channel of the adapter's own on the carrier's group and port.
  EXPECT_EQ(Channel(metaPort_), records.at("cfg.x").channel);
  EXPECT_NE(carrier, records.at("cfg.x").channel);
  EXPECT_EQ("239.1.1.1", records.at("sub dir").channel->GetAddress());
  EXPECT_EQ(0xC000, records.at("sub dir").type);
  ASSERT_EQ(1u, directory.GetSubdirectories().count("sub dir"));
  EXPECT_TRUE(directory.GetSubdirectories().at("sub dir")->IsExtended());

  Tracker().messages.clear();
  adapter_->ParseExtendedConfiguration("\"1'a\" \"1'b", &directory, carrier);
  EXPECT_TRUE(Tracker().Holds(TTracker::kError,
                              "Found a start token but didn't found end token in string [\"1'b]"));
  EXPECT_EQ(1u, adapter_->GetObjectRecords().count("a"));
}

// ---- Run time over loopback ----

TEST_F(TInfocastAdapterTest, RootConfigurationConfiguresAndRebuildsChannelsAndObjects) {
  Start(TInfocastChannel::Normal);
  EXPECT_EQ("127.0.0.1:" + std::to_string(metaPort_), Get("var.ip.metachannel"));
  SendRoot(
      Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"
          "<Object name=\"var.r\" fetch=\"OnRequest\" countref=\"true\"/>"
          "<Object name=\"var.k\" fetch=\"OnRequest\" countref=\"false\"/>"));
  EXPECT_TRUE(Tracker().Holds(TTracker::kTrace,
                              "Parsing directory configuration for _metachannel.infocast2.conf"));
  TInfocastChannel* first = Channel(port2_);
  ASSERT_NE(nullptr, first);
  EXPECT_TRUE(Wanted(first, "cfg.p"));
  EXPECT_FALSE(Wanted(first, "var.r") || Wanted(first, "var.k"));
  SendObject(port2_, "cfg.p", "one");
  EXPECT_EQ("one", Get("cfg.p"));

  // On request: wanted while somebody subscribes to exactly that name.
  service_.SubscribeObject("var.r", 1, "client");
  service_.SubscribeObject("var.k", 2, "client");
  EXPECT_TRUE(Wanted(first, "var.r") && Wanted(first, "var.k"));
  SendObject(port2_, "var.r", "r1");
  SendObject(port2_, "var.k", "k1");
  EXPECT_EQ("r1", Get("var.r"));
  updates_.names.clear();
  service_.UnsubscribeObject("var.r", "client");
  EXPECT_EQ("<none>", Get("var.r"));
  EXPECT_FALSE(Wanted(first, "var.r"));
  EXPECT_EQ((std::vector<std::string>{"var.r"}), updates_.names);
  service_.UnsubscribeObject("var.k", "client");
  EXPECT_EQ("k1", Get("var.k"));  // countref false keeps value and membership
  EXPECT_TRUE(Wanted(first, "var.k"));

  // A second root text rebuilds: channels anew, prefetch objects added anew, values of
  // objects no longer configured withdrawn.
  SendRoot(Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>", "Once"));
  TInfocastChannel* second = Channel(port2_);
  ASSERT_NE(nullptr, second);
  EXPECT_TRUE(Wanted(second, "cfg.p"));
  EXPECT_EQ(1u, adapter_->GetChannels().size());
  EXPECT_EQ(0u, adapter_->GetRetiredCount());
  EXPECT_EQ("one", Get("cfg.p"));
  EXPECT_EQ("<none>", Get("var.k"));
  SendObject(port2_, "cfg.p", "two");
  EXPECT_EQ("two", Get("cfg.p"));

  // An empty value (a time filter no longer active) withdraws the object.
  updates_.names.clear();
  adapter_->OnObjectChanged("cfg.p", "");
  EXPECT_EQ("<none>", Get("cfg.p"));
  EXPECT_EQ((std::vector<std::string>{"cfg.p"}), updates_.names);

  // The UI locale brings the converted language code along.
  adapter_->OnObjectChanged("cfg.locale.ui", "sv-SE");
  EXPECT_EQ("swe", Get("config.uilanguage"));
  EXPECT_EQ("sv-SE", Get("cfg.locale.ui"));
}

TEST_F(TInfocastAdapterTest, TimeFilteredObjectDisappearsWhenItsWindowEnds) {
  Start(TInfocastChannel::Normal);
  SendRoot(Xml("<Object name=\"var.t\" fetch=\"Prefetch\"/>"));
  TInfocastPacketizer packetizer(1, kCrc32, "var.t", 1400);
  const uint32_t now = static_cast<uint32_t>(clock_.WallSeconds());
  packetizer.SetTimeFilter(now - 10, now + 10);
  Send(port2_, packetizer.Packetize("on air"));
  EXPECT_EQ("on air", Get("var.t"));
  clock_.SetWallSeconds(now + 60);
  Send(port2_, packetizer.Packetize("on air"));
  EXPECT_EQ("<none>", Get("var.t"));
}

// A sub-directory arriving on a configured channel rebuilds the configuration from inside
// that channel's delivery: the channel is replaced and must stay alive until it returns
// (the sanitizer build proves it).
TEST_F(TInfocastAdapterTest, OpchSubdirectoryOnConfiguredChannelRebuildsSafely) {
  Start(TInfocastChannel::Opch);
  const std::string sub = "C000'sub'127.0.0.1:" + std::to_string(port2_);
  SendObject(metaPort_, kProduct, "\"" + sub + "\" \"1'cfg.root\"",
             TInfocastHeader::kTypeDirectory);
  ASSERT_NE(nullptr, Channel(port2_));
  EXPECT_TRUE(Wanted(Channel(port2_), "sub"));
  EXPECT_EQ(2u, adapter_->GetDirectoryCount());

  for (int round = 0; round < 3; ++round) {
    SendObject(port2_, "sub", "\"1'cfg.deep" + std::to_string(round) + "\"",
               TInfocastHeader::kTypeDirectory);
    EXPECT_EQ(0u, adapter_->GetRetiredCount());
    EXPECT_TRUE(Wanted(Channel(port2_), "cfg.deep" + std::to_string(round)));
  }
  SendObject(port2_, "cfg.deep2", "deep");
  EXPECT_EQ("deep", Get("cfg.deep2"));
  EXPECT_EQ("<none>", Get("cfg.deep0"));
  EXPECT_EQ(2u, adapter_->GetDirectoryCount());

  // An extended root stays extended: a plain update of it is ignored.
  const size_t parsed = Traced("Parsing directory configuration");
  SendObject(metaPort_, kProduct, "<Infocast/>", 0);
  EXPECT_EQ(parsed, Traced("Parsing directory configuration"));

  // A directory naming itself or the root is refused instead of making a cycle.
  SendObject(port2_, "sub", "\"C000'sub\" \"C000'_metachannel.infocastinfo\"",
             TInfocastHeader::kTypeDirectory);
  EXPECT_EQ(2u, Traced("is configured twice; ignored"));
  EXPECT_EQ(2u, adapter_->GetDirectoryCount());
}

TEST_F(TInfocastAdapterTest, NormalModeStoresADirectoryPacketWithoutRebuilding) {
  Start(TInfocastChannel::Normal);
  SendRoot(Xml("<Object name=\"sub\" fetch=\"Prefetch\"/>"));
  const size_t parsed = Traced("Parsing directory configuration");
  adapter_->OnObjectChanged("sub", "\"1'cfg.x\"");  // what the channel does for 0xC000
  EXPECT_EQ(parsed, Traced("Parsing directory configuration"));
  EXPECT_EQ("\"1'cfg.x\"", Get("sub"));
  adapter_->OnDirectoryChanged("unknown", "x", true);
  EXPECT_TRUE(Tracker().Holds(TTracker::kError, "No directory called unknown"));
}

TEST_F(TInfocastAdapterTest, StatisticsArePublishedEveryTwoSeconds) {
  Start(TInfocastChannel::Normal);
  SendRoot(Xml(""));
  const TInfocastChannel* meta = adapter_->GetMetaChannel();
  ASSERT_NE(0u, meta->GetTotalPackets());
  Advance(1999);
  updates_.names.clear();
  Advance(1);
  EXPECT_EQ(
      (std::vector<std::string>{"stat.infocast.0.url", "stat.infocast.0.time.total",
                                "stat.infocast.0.totalpackets", "stat.infocast.0.totalbytes"}),
      std::vector<std::string>(updates_.names.begin(), updates_.names.begin() + 4));
  EXPECT_EQ(std::to_string(meta->GetTotalPackets()), Get("stat.infocast.0.totalpackets"));
  EXPECT_EQ(std::to_string(meta->GetTotalBytes()), Get("stat.infocast.0.totalbytes"));
  EXPECT_EQ("opch://127.0.0.1:" + std::to_string(metaPort_), Get("stat.infocast.0.url"));
  EXPECT_EQ("2", Get("stat.infocast.0.time.total"));
}

TEST_F(TInfocastAdapterTest, WithoutValidAddressNothingIsReceivedOrPublished) {
  Start(TInfocastChannel::Normal, "no-colon");
  EXPECT_TRUE(Tracker().Holds(TTracker::kWarning, "Invalid metachannel address: no-colon"));
  std::string value = "unchanged";
  EXPECT_TRUE(adapter_->GetObject("stat.infocast.0.totalpackets", value));
  EXPECT_EQ("unchanged", value);
  EXPECT_TRUE(adapter_->GetObject("stat.infocast.0.url", value));
  EXPECT_EQ("opch://no-colon", value);
  Advance(2000);
  EXPECT_TRUE(Tracker().Holds(TTracker::kTrace, "InfocastAdapter: Can not open file: "));
  // Nothing was published to the volatile storage in front of the adapter.
  EXPECT_EQ(adapter_, service_.FindAdapter("stat.infocast.0.totalpackets"));
  EXPECT_EQ(nullptr, adapter_->GetMetaChannel());
}

TEST_F(TInfocastAdapterTest, NewAddressInTheFileMovesTheMetaChannelOnce) {
  Start(TInfocastChannel::Normal);
  SendRoot(Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"));
  SendObject(port2_, "cfg.p", "one");
  // The same text with a line feed is another address.
  const uint16_t moved = FreePort();
  test::WriteFile(root_.File("address"), "127.0.0.1:" + std::to_string(moved) + "\n");
  Advance(2000);
  Advance(2000);
  EXPECT_EQ(1u, Traced("InfocastAdapter: New metachannel address set: "));
  ASSERT_NE(nullptr, adapter_->GetMetaChannel());
  EXPECT_EQ(moved, adapter_->GetMetaChannel()->GetPort());
  EXPECT_EQ("127.0.0.1:" + std::to_string(moved) + "\n", Get("var.ip.metachannel"));
  EXPECT_EQ("opch://127.0.0.1:" + std::to_string(moved), Get("stat.infocast.0.url"));
  EXPECT_EQ("<none>", Get("cfg.p"));
  EXPECT_TRUE(adapter_->GetChannels().empty());
  // The new meta channel configures as the first did.
  SendObject(moved, "infocast2.conf", Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"));
  SendObject(port2_, "cfg.p", "again");
  EXPECT_EQ("again", Get("cfg.p"));

  test::WriteFile(root_.File("address"), "garbage");
  Advance(2000);
  EXPECT_TRUE(Tracker().Holds(TTracker::kWarning, "Invalid metachannel address: garbage"));
}

// Months of configuration changes: every rebuild lets go of what it replaced.
TEST_F(TInfocastAdapterTest, ManyRebuildsKeepEverythingBounded) {
  Start(TInfocastChannel::Opch);
  for (int round = 0; round < 2000; ++round) {
    adapter_->OnDirectoryChanged("_metachannel.infocastinfo",
                                 "\"C000'a" + std::to_string(round % 3) +
                                     "'127.0.0.1:" + std::to_string(port2_) + "\" \"1'cfg.n" +
                                     std::to_string(round % 5) + "\"",
                                 true);
    loop_.RunOnce(0);
  }
  EXPECT_EQ(2u, adapter_->GetDirectoryCount());
  EXPECT_EQ(2u, adapter_->GetChannels().size());
  EXPECT_EQ(0u, adapter_->GetRetiredCount());

  // A configuration asking for more channels than the bound gets the bound, one trace.
  std::string text;
  for (size_t port = 1; port <= TInfocastAdapter::kMaxChannels + 10; ++port) {
    text += "\"1'o" + std::to_string(port) + "'127.0.0.1:" + std::to_string(port) + "\"";
  }
  adapter_->OnDirectoryChanged("_metachannel.infocastinfo", text, true);
  EXPECT_EQ(TInfocastAdapter::kMaxChannels, adapter_->GetChannels().size());
  EXPECT_EQ(1u, Traced("channels configured;"));
}

}  // namespace
