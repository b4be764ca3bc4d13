#include <gtest/gtest.h>

#include "adapters/TInfocastAdapter.h"
#include "adapters/TVolatileAdapter.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "os/TUdpSocket.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

constexpr uint16_t kDirectory = TInfocastHeader::kTypeDirectory;
// What the meta channel computes for a box without manufacturer and product name.
constexpr const char* kProduct = "velmora-nm-box-rev-2";

struct TUpdates final : ILocalInformationMonitor {
  explicit TUpdates(std::vector<std::string>& names) : names_(names) {}
  void ObjectUpdate(const std::string& name) override { names_.push_back(name); }
  std::vector<std::string>& names_;
};

uint16_t FreePort() { return TUdpSocket("127.0.0.1", 0).GetPort(); }
std::string Prefetch(const std::string& n) { return "<Object name='" + n + "' fetch='Prefetch'/>"; }

// The adapter in a service behind a volatile adapter, its channels on 127.0.0.1 fed by a
// sender socket, the loop on the manual clock.
class TInfocastAdapterTest : public ::testing::Test {
 protected:
  TInfocastAdapterTest() : loop_(clock_), sender_("127.0.0.1", 0) {}

  void Start(TInfocastChannel::TMode mode) {
    service_.SetAddressCheck(false);
    service_.AddMonitor(std::make_unique<TUpdates>(updates_));
    service_.AddAdapter(std::make_unique<TVolatileAdapter>());
    auto adapter =
        std::make_unique<TInfocastAdapter>(Channel(metaPort_), root_.File("address"), 1600, mode,
                                           &service_, &service_, nullptr, &loop_, clock_);
    adapter_ = adapter.get();
    service_.AddAdapter(std::move(adapter));
    service_.Start();
  }
  void Send(uint16_t port, const std::string& name, const std::string& value, uint16_t type = 1) {
    for (const std::string& datagram :
         TInfocastPacketizer(type, TInfocastHeader::kPrecodingCrc32, name, 1400).Packetize(value))
      test::SendAndServe(sender_, port, datagram, loop_);
    loop_.RunOnce(0);  // the release of what a rebuild retired
  }
  void SendRoot(const std::string& objects, const std::string& connection = "Persistent") {
    Send(metaPort_, "infocast2.conf",
         "<Infocast><Channel address='127.0.0.1' port='" + std::to_string(port2_) +
             "' connection='" + connection + "'>" + objects + "</Channel></Infocast>");
  }
  static std::string Channel(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }
  std::string Get(const std::string& name) {
    std::string value = "<none>";
    if (IInformationAdapter* holder = service_.FindAdapter(name)) holder->GetObject(name, value);
    return value;
  }
  bool Wanted(uint16_t port, const std::string& name) {
    const auto found = adapter_->TEST_GetChannels().find(Channel(port));
    return found != adapter_->TEST_GetChannels().end() &&
           found->second->GetObjects().count(name) != 0;
  }

  test::TScopedProcessTracker tracker_;
  test::TTempDir root_;
  TManualClock clock_;
  TEpollEventLoop loop_;
  std::vector<std::string> updates_;
  TSubscriptionList subscriptions_{
      nullptr, [](const std::string&, TSubscriptionList::TNotification, const TStringList&) {}};
  TInformationService service_{"", &subscriptions_};
  TUdpSocket sender_;
  uint16_t metaPort_ = FreePort();
  uint16_t port2_ = FreePort();
  TInfocastAdapter* adapter_ = nullptr;
};

TEST_F(TInfocastAdapterTest, RootConfigurationConfiguresAndRebuildsChannelsAndObjects) {
  Start(TInfocastChannel::Normal);
  EXPECT_EQ(Channel(metaPort_), Get("var.ip.metachannel"));
  SendRoot(Prefetch("cfg.p") + Prefetch("cfg.locale.ui") + Prefetch("sub") +
           "<Object name='var.r' fetch='OnRequest' countref='true'/>"
           "<Object name='var.k' fetch='OnRequest' countref='false'/>");
  EXPECT_FALSE(Wanted(port2_, "var.r") || Wanted(port2_, "var.k"));
  Send(port2_, "cfg.p", "one");
  EXPECT_EQ("one", Get("cfg.p"));
  // On request: wanted while somebody subscribes to exactly that name; countref false keeps
  // value and membership when the last subscriber leaves.
  for (const char* name : {"var.r", "var.k"}) service_.SubscribeObject(name, 1, "client");
  EXPECT_TRUE(Wanted(port2_, "var.r") && Wanted(port2_, "var.k"));
  Send(port2_, "var.r", "r1");
  Send(port2_, "var.k", "k1");
  updates_.clear();
  for (const char* name : {"var.r", "var.k"}) service_.UnsubscribeObject(name, "client");
  EXPECT_EQ("<none>/k1", Get("var.r") + "/" + Get("var.k"));
  EXPECT_TRUE(!Wanted(port2_, "var.r") && Wanted(port2_, "var.k"));
  EXPECT_EQ((std::vector<std::string>{"var.r"}), updates_);
  // In normal mode a directory packet is not followed.
  Send(port2_, "sub", "\"1'cfg.x'" + Channel(port2_) + "\"", kDirectory);
  EXPECT_FALSE(Wanted(port2_, "cfg.x"));
  // Values that never arrive again while unchanged: the locale's language copy, the bootcast.
  Send(port2_, "cfg.locale.ui", "sv-SE");
  Send(metaPort_, kProduct, "boot", TInfocastHeader::kTypeBootcastInfo);
  ASSERT_EQ("swe/boot", Get("config.uilanguage") + "/" + Get("_metachannel.bootcastinfo"));
  // A second root text rebuilds: what is no longer configured goes, the rest stays.
  SendRoot(Prefetch("cfg.p") + Prefetch("cfg.locale.ui"), "Once");
  EXPECT_TRUE(Wanted(port2_, "cfg.p"));
  EXPECT_EQ(0u, adapter_->TEST_GetRetiredCount());
  EXPECT_EQ("one/<none>", Get("cfg.p") + "/" + Get("var.k"));
  EXPECT_EQ("swe/boot", Get("config.uilanguage") + "/" + Get("_metachannel.bootcastinfo"));
  // An empty value (a time filter no longer active) withdraws the object.
  updates_.clear();
  adapter_->OnObjectChanged("cfg.p", "");
  EXPECT_EQ("<none>", Get("cfg.p"));
  EXPECT_EQ((std::vector<std::string>{"cfg.p"}), updates_);
}

// A sub-directory rebuilds the configuration inside its channel's delivery: the replaced
// channel must live until that returns (the sanitizer build proves it).
TEST_F(TInfocastAdapterTest, OpchDirectoriesRebuildSafely) {
  Start(TInfocastChannel::Opch);
  Send(metaPort_, kProduct, "\"C000'sub'" + Channel(port2_) + "\" \"1'cfg.root\"", kDirectory);
  EXPECT_TRUE(Wanted(port2_, "sub"));
  EXPECT_TRUE(Wanted(metaPort_, "cfg.root"));  // no address: the meta channel's group and port
  for (int round = 0; round < 3; ++round) {
    Send(port2_, "sub", "\"1'cfg.deep" + std::to_string(round) + "\"", kDirectory);
    EXPECT_EQ(0u, adapter_->TEST_GetRetiredCount());
    EXPECT_TRUE(Wanted(port2_, "cfg.deep" + std::to_string(round)));
  }
  adapter_->OnDirectoryChanged("_metachannel.infocastinfo", "", false);  // a plain update: ignored
  EXPECT_TRUE(Wanted(port2_, "sub"));
  // A directory naming itself or the root is refused instead of making a cycle.
  Send(port2_, "sub", "\"C000'sub\" \"C000'_metachannel.infocastinfo\"", kDirectory);
  EXPECT_EQ(2u, adapter_->TEST_GetDirectoryCount());
}

}  // namespace
