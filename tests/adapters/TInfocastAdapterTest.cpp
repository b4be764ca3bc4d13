#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

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
  explicit TUpdates(std::vector<std::string>& names) : names_(names) {}
  bool ObjectUpdate(const std::string& name) override {
    names_.push_back(name);
    return true;
  }
  std::vector<std::string>& names_;
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
    service_.AddMonitor(std::make_unique<TUpdates>(updates_));
    service_.AddAdapter(std::make_unique<TVolatileAdapter>());
    auto adapter = std::make_unique<TInfocastAdapter>(
        address.empty() ? "127.0.0.1:" + std::to_string(metaPort_) : address, root_.File("address"),
        1600, mode, &service_, &service_, nullptr, &loop_, clock_);
    adapter_ = adapter.get();
    service_.AddAdapter(std::move(adapter));
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
    const auto found = adapter_->TEST_GetChannels().find("127.0.0.1:" + std::to_string(port));
    return found == adapter_->TEST_GetChannels().end() ? nullptr : found->second.get();
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
  std::vector<std::string> updates_;
  TSubscriptionList subscriptions_{
      nullptr, [](const std::string&, TSubscriptionList::TNotification, const TStringList&) {}};
  TInformationService service_{"", &subscriptions_};
  TUdpSocket sender_;
  uint16_t metaPort_;
  uint16_t port2_;
  TInfocastAdapter* adapter_ = nullptr;
};

// ---- Run time over loopback ----

TEST_F(TInfocastAdapterTest, RootConfigurationConfiguresAndRebuildsChannelsAndObjects) {
  Start(TInfocastChannel::Normal);
  EXPECT_EQ("127.0.0.1:" + std::to_string(metaPort_), Get("var.ip.metachannel"));
  SendRoot(
      Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"
          "<Object name=\"cfg.locale.ui\" fetch=\"Prefetch\"/>"
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
  updates_.clear();
  service_.UnsubscribeObject("var.r", "client");
  EXPECT_EQ("<none>", Get("var.r"));
  EXPECT_FALSE(Wanted(first, "var.r"));
  EXPECT_EQ((std::vector<std::string>{"var.r"}), updates_);
  service_.UnsubscribeObject("var.k", "client");
  EXPECT_EQ("k1", Get("var.k"));  // countref false keeps value and membership
  EXPECT_TRUE(Wanted(first, "var.k"));

  // Derived and meta-channel values present before a rebuild: the locale's language copy and
  // a bootcast object, neither of which arrives again while unchanged.
  SendObject(port2_, "cfg.locale.ui", "sv-SE");
  SendObject(metaPort_, kProduct, "boot", TInfocastHeader::kTypeBootcastInfo);
  ASSERT_EQ("swe", Get("config.uilanguage"));
  ASSERT_EQ("boot", Get("_metachannel.bootcastinfo"));

  // A second root text rebuilds: channels anew, prefetch objects added anew, values of
  // objects no longer configured withdrawn, what is still configured or derived kept. Two
  // elements with one address share a channel, with the first one's connection type.
  const std::string kept =
      "<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"
      "<Object name=\"cfg.locale.ui\" fetch=\"Prefetch\"/>";
  SendRoot(Xml(kept + "</Channel><Channel address=\"127.0.0.1\" port=\"" + std::to_string(port2_) +
                   "\" connection=\"Persistent\">",
               "Once"));
  TInfocastChannel* second = Channel(port2_);
  ASSERT_NE(nullptr, second);
  EXPECT_TRUE(Wanted(second, "cfg.p"));
  EXPECT_EQ(1u, adapter_->TEST_GetChannels().size());
  EXPECT_EQ(0u, adapter_->TEST_GetRetiredCount());
  EXPECT_EQ("one", Get("cfg.p"));
  EXPECT_EQ("<none>", Get("var.k"));
  EXPECT_EQ("swe", Get("config.uilanguage"));
  EXPECT_EQ("boot", Get("_metachannel.bootcastinfo"));
  SendObject(port2_, "cfg.p", "two");
  EXPECT_EQ("two", Get("cfg.p"));
  SendRoot(Xml("<Object name=\"cfg.p\" fetch=\"Prefetch\"/>"));
  EXPECT_EQ("<none>", Get("config.uilanguage"));  // its locale is no longer configured

  // An empty value (a time filter no longer active) withdraws the object.
  updates_.clear();
  adapter_->OnObjectChanged("cfg.p", "");
  EXPECT_EQ("<none>", Get("cfg.p"));
  EXPECT_EQ((std::vector<std::string>{"cfg.p"}), updates_);
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
  EXPECT_EQ(2u, adapter_->TEST_GetDirectoryCount());
  // No address: a channel of the adapter's own on the meta channel's group and port.
  EXPECT_TRUE(Wanted(Channel(metaPort_), "cfg.root"));
  EXPECT_NE(adapter_->TEST_GetMetaChannel(), Channel(metaPort_));

  for (int round = 0; round < 3; ++round) {
    SendObject(port2_, "sub", "\"1'cfg.deep" + std::to_string(round) + "\"",
               TInfocastHeader::kTypeDirectory);
    EXPECT_EQ(0u, adapter_->TEST_GetRetiredCount());
    EXPECT_TRUE(Wanted(Channel(port2_), "cfg.deep" + std::to_string(round)));
  }
  SendObject(port2_, "cfg.deep2", "deep");
  EXPECT_EQ("deep", Get("cfg.deep2"));
  EXPECT_EQ("<none>", Get("cfg.deep0"));
  EXPECT_EQ(2u, adapter_->TEST_GetDirectoryCount());

  // An extended root stays extended: a plain update of it is ignored.
  const size_t parsed = Traced("Parsing directory configuration");
  SendObject(metaPort_, kProduct, "<Infocast/>", 0);
  EXPECT_EQ(parsed, Traced("Parsing directory configuration"));

  // A directory naming itself or the root is refused instead of making a cycle.
  SendObject(port2_, "sub", "\"C000'sub\" \"C000'_metachannel.infocastinfo\"",
             TInfocastHeader::kTypeDirectory);
  EXPECT_EQ(2u, Traced("is configured twice; ignored"));
  EXPECT_EQ(2u, adapter_->TEST_GetDirectoryCount());
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
  const TInfocastChannel* meta = adapter_->TEST_GetMetaChannel();
  ASSERT_NE(0u, meta->GetTotalPackets());
  Advance(1999);
  updates_.clear();
  Advance(1);
  EXPECT_EQ(
      (std::vector<std::string>{"stat.infocast.0.url", "stat.infocast.0.time.total",
                                "stat.infocast.0.totalpackets", "stat.infocast.0.totalbytes"}),
      std::vector<std::string>(updates_.begin(), updates_.begin() + 4));
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
  EXPECT_EQ(nullptr, adapter_->TEST_GetMetaChannel());
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
  ASSERT_NE(nullptr, adapter_->TEST_GetMetaChannel());
  EXPECT_EQ(moved, adapter_->TEST_GetMetaChannel()->GetPort());
  EXPECT_EQ("127.0.0.1:" + std::to_string(moved) + "\n", Get("var.ip.metachannel"));
  EXPECT_EQ("opch://127.0.0.1:" + std::to_string(moved), Get("stat.infocast.0.url"));
  EXPECT_EQ("<none>", Get("cfg.p"));
  EXPECT_TRUE(adapter_->TEST_GetChannels().empty());
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
  EXPECT_EQ(2u, adapter_->TEST_GetDirectoryCount());
  EXPECT_EQ(2u, adapter_->TEST_GetChannels().size());
  EXPECT_EQ(0u, adapter_->TEST_GetRetiredCount());

  // A configuration asking for more channels than the bound gets the bound, one trace.
  std::string text;
  for (size_t port = 1; port <= TInfocastAdapter::kMaxChannels + 10; ++port) {
    text += "\"1'o" + std::to_string(port) + "'127.0.0.1:" + std::to_string(port) + "\"";
  }
  adapter_->OnDirectoryChanged("_metachannel.infocastinfo", text, true);
  EXPECT_EQ(TInfocastAdapter::kMaxChannels, adapter_->TEST_GetChannels().size());
  EXPECT_EQ(1u, Traced("channels configured;"));
}

}  // namespace
