#include <gtest/gtest.h>

#include "adapters/TManagementAdapter.h"
#include "adapters/TManagementMonitor.h"
#include "adapters/TVolatileAdapter.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TUdpSocket.h"
#include "service/TInformationService.h"
#include "service/TServiceObjectReader.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"
#include "tests/adapters/AdapterTestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

constexpr auto kVolatile = IToiInformationService::eVolatile;
const char kSource[] = "cfg.ip.rmtsource";

// A service with the volatile storage (where the tests set cfg.ip.rmtsource), the monitor,
// a subscriber of everything ("changed NAME", "removed NAME") and a sender to 127.0.0.1.
class TManagementMonitorTest : public ::testing::Test {
 protected:
  TManagementMonitorTest() {
    service_.SetAddressCheck(false);
    service_.AddAdapter(std::make_unique<TVolatileAdapter>());
    service_.Start();
    service_.SubscribeObject("*", 1, "watcher");
    monitor_ = new TManagementMonitor(service_, reader_, loop_);
    service_.AddMonitor(std::unique_ptr<TManagementMonitor>(monitor_));
  }

  std::string Source(int index) const { return "127.0.0.1:" + std::to_string(ports_[index]); }
  void SetSource(const std::string& value) { service_.SetObject(kSource, value, kVolatile); }
  void Push(int index, const std::string& name, const std::string& value) {
    for (const std::string& datagram : TInfocastPacketizer(1, 4, name, 1400).Packetize(value))
      test::SendAndServe(sender_, ports_[index], datagram, loop_);
  }
  size_t Position(const std::string& trace) const {
    size_t index = 0;
    while (index < tracker_.messages.size() && tracker_.messages[index].second != trace) ++index;
    return index;
  }

  test::TScopedProcessTracker scoped_;
  test::TRecordingTracker& tracker_ = scoped_.Tracker();
  TEpollEventLoop loop_;
  std::vector<std::string> told_;
  TSubscriptionList subscriptions_{
      nullptr,
      [this](const std::string&, TSubscriptionList::TNotification n, const TStringList& names) {
        const char* what =
            n == TSubscriptionList::TNotification::eChanged ? "changed " : "removed ";
        for (const std::string& name : names) told_.push_back(what + name);
      }};
  TInformationService service_{"", &subscriptions_};
  TServiceObjectReader reader_{service_};
  TManagementMonitor* monitor_ = nullptr;
  TUdpSocket sender_{"127.0.0.1", 0};
  int ports_[2] = {TUdpSocket("127.0.0.1", 0).GetPort(), TUdpSocket("127.0.0.1", 0).GetPort()};
};

// A value without a colon gives an adapter without a channel. The same value keeps the adapter,
// another retires it, then starts the new one: watchers are told of the old objects leaving.
// A read that fails keeps the running adapter.
TEST_F(TManagementMonitorTest, SourceStartsKeepsAndReplacesTheAdapter) {
  SetSource("");
  TManagementAdapter* first = monitor_->TEST_GetAdapter();
  ASSERT_TRUE(first != nullptr && first->GetChannel() == nullptr);
  monitor_->ObjectUpdate(kSource);
  EXPECT_EQ(first, monitor_->TEST_GetAdapter());
  SetSource(Source(0));
  first = monitor_->TEST_GetAdapter();
  EXPECT_TRUE(first->GetChannel() != nullptr && first->GetChannel()->IsConnected());
  monitor_->ObjectUpdate(kSource);
  EXPECT_EQ(first, monitor_->TEST_GetAdapter());
  Push(0, "m.a", "1");
  EXPECT_EQ("1", reader_.GetObject("m.a"));
  told_.clear();
  SetSource(Source(1));
  EXPECT_EQ(nullptr, service_.FindAdapter("m.a"));
  EXPECT_EQ((std::vector<std::string>{"removed m.a", "changed cfg.ip.rmtsource"}), told_);
  EXPECT_LT(Position("Disconnect(" + Source(0) + ")"), Position("Connect(" + Source(1) + ")"));
  EXPECT_EQ(0u, monitor_->TEST_GetRetiredCount());
  Push(1, "m.b", "2");
  EXPECT_EQ("2", reader_.GetObject("m.b"));
  TManagementAdapter* running = monitor_->TEST_GetAdapter();
  service_.UnsetObject(kSource, kVolatile);
  EXPECT_EQ(running, monitor_->TEST_GetAdapter());
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "Failed to retreive value of cfg.ip.rmtsource"));
}

// The source names a new source: the old adapter and channel, on the stack then, are deleted
// after the delivery returned; the move is one change to watchers, with no failed read.
TEST_F(TManagementMonitorTest, SourceThatMovesItselfIsOneChangeAndDeletedAfterItsDelivery) {
  SetSource(Source(0));
  service_.UnsetObject(kSource, kVolatile);  // the source's own value is the visible one now
  Push(0, "m.a", "1");
  told_.clear();
  tracker_.messages.clear();
  Push(0, kSource, Source(1));
  EXPECT_EQ(Source(1), monitor_->TEST_GetAddress());
  EXPECT_EQ((std::vector<std::string>{"removed m.a", "changed cfg.ip.rmtsource"}), told_);
  EXPECT_FALSE(tracker_.Holds(TTracker::kError, "Failed to retreive value"));
  for (int pass = 0; pass < 10 && monitor_->TEST_GetRetiredCount() != 0; ++pass) loop_.RunOnce(100);
  EXPECT_EQ(0u, monitor_->TEST_GetRetiredCount());
  Push(1, "m.c", "3");
  EXPECT_EQ("3", reader_.GetObject("m.c"));
}

// The hardware filter reads manufacturer, product name and version in order, without a colon.
TEST_F(TManagementMonitorTest, HardwareFilterReadsTheVersionWithoutAColon) {
  TManualClock clock;
  test::TFakeObjects objects;
  objects.values = {{"const.hw.manufacturer", "maker"}, {"const.hw.productname", "box"}};
  TManagementAdapter adapter{"127.0.0.1:0", 1600, objects, loop_, clock, {3, 40}};
  adapter.InitializeObjects();
  ASSERT_NE(nullptr, adapter.GetChannel());
  std::string filter = "H=maker-box";
  filter.resize(32, '\0');
  EXPECT_TRUE(adapter.GetChannel()->GetFilters().TargetFilterActive(filter));
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "(const.hw.version)"));
}

}  // namespace
