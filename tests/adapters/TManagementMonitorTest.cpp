#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/TManagementMonitor.h"
#include "adapters/TVolatileAdapter.h"
#include "base/TException.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TUdpSocket.h"
#include "service/ISubscriptionList.h"
#include "service/TInformationService.h"
#include "service/TServiceObjectReader.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

constexpr auto kVolatile = IToiInformationService::eVolatile;
const char kSource[] = "cfg.ip.rmtsource";

// Records what subscribers would be told: "changed NAME", "removed NAME".
class TRecordingSubscriptions final : public ISubscriptionList {
 public:
  bool Add(const std::string&, int, const std::string&) override { return true; }
  void Remove(const std::string&, const std::string&) override {}
  void RemoveAll(const std::string&) override {}
  void RemoveAll(int) override {}
  bool Match(const std::string&, bool) const override { return false; }
  void EnumerateObject(const std::string&) const override {}
  void DispatchObjectChanged(const std::string& name) const override {
    told.push_back("changed " + name);
  }
  void DispatchObjectRemoved(const std::string& name) const override {
    told.push_back("removed " + name);
  }
  mutable std::vector<std::string> told;
};

// Holds cfg.ip.rmtsource but refuses to read it, as a storage limit would.
class TRefusingAdapter final : public TInformationAdapter {
 public:
  bool HasObject(const std::string& name) const override { return name == kSource; }
  bool GetObject(const std::string&, std::string&) const override {
    throw TStorageLimitException("refused");
  }
};

// A real service with the volatile storage (where the tests set cfg.ip.rmtsource), the
// monitor registered, and a sender of management datagrams to 127.0.0.1.
class TManagementMonitorTest : public ::testing::Test {
 protected:
  TManagementMonitorTest() : sender_("127.0.0.1", 0) {
    service_.AddAdapter(std::make_unique<TVolatileAdapter>());
    service_.Start();
    auto monitor = std::make_unique<TManagementMonitor>(service_, reader_, loop_);
    monitor_ = monitor.get();
    service_.AddMonitor(std::move(monitor));
    for (int& port : ports_) port = TUdpSocket("127.0.0.1", 0).GetPort();
  }

  std::string Source(int index) const { return "127.0.0.1:" + std::to_string(ports_[index]); }
  void SetSource(const std::string& value) { service_.SetObject(kSource, value, kVolatile); }
  void Push(int index, const std::string& name, const std::string& value) {
    for (const std::string& datagram : TInfocastPacketizer(1, 4, name, 1400).Packetize(value)) {
      test::SendAndServe(sender_, ports_[index], datagram, loop_);
    }
  }
  std::string Get(const std::string& name) { return reader_.GetObject(name); }
  bool Holds(const std::string& name) { return service_.FindAdapter(name) != nullptr; }
  size_t Position(const std::string& trace) {
    const auto& messages = tracker_.Tracker().messages;
    for (size_t index = 0; index < messages.size(); ++index) {
      if (messages[index].second == trace) return index;
    }
    return messages.size();
  }

  test::TScopedProcessTracker tracker_;
  TEpollEventLoop loop_;
  TRecordingSubscriptions subscriptions_;
  TInformationService service_{"", &subscriptions_};
  TServiceObjectReader reader_{service_};
  TManagementMonitor* monitor_ = nullptr;
  TUdpSocket sender_;
  int ports_[2] = {0, 0};
};

// First report starts the adapter, the same value keeps it, another value retires it and
// then starts the new one: the old source's objects leave the service, and watchers are told
// of those nobody else holds.
TEST_F(TManagementMonitorTest, SourceStartsKeepsAndReplacesTheAdapter) {
  EXPECT_FALSE(monitor_->ObjectUpdate("cfg.ip.other"));
  EXPECT_EQ(nullptr, monitor_->TEST_GetAdapter());

  SetSource(Source(0));
  TManagementAdapter* first = monitor_->TEST_GetAdapter();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, first->GetChannel());
  EXPECT_TRUE(first->GetChannel()->IsConnected());
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_EQ(first, monitor_->TEST_GetAdapter());

  service_.SetObject("m.shadow", "local", kVolatile);
  Push(0, "m.a", "1");
  Push(0, "m.shadow", "remote");
  EXPECT_EQ("1", Get("m.a"));
  EXPECT_EQ("local", Get("m.shadow"));  // appended last: every other adapter shadows it
  subscriptions_.told.clear();

  SetSource(Source(1));
  ASSERT_NE(nullptr, monitor_->TEST_GetAdapter());
  EXPECT_FALSE(Holds("m.a"));
  EXPECT_EQ("local", Get("m.shadow"));
  EXPECT_EQ((std::vector<std::string>{"removed m.a", "changed cfg.ip.rmtsource"}),
            subscriptions_.told);
  EXPECT_LT(Position("Disconnect(" + Source(0) + ")"), Position("Connect(" + Source(1) + ")"));
  EXPECT_EQ(0u, monitor_->TEST_GetRetiredCount());
  Push(1, "m.b", "from the new source");
  EXPECT_EQ("from the new source", Get("m.b"));
}

// A value without a colon gives an adapter without a channel, kept while the value stays and
// replaced by a valid one; a read that fails keeps the running adapter.
TEST_F(TManagementMonitorTest, UnusableValuesAndFailedReads) {
  auto& tracker = tracker_.Tracker();
  SetSource("");
  TManagementAdapter* empty = monitor_->TEST_GetAdapter();
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(nullptr, empty->GetChannel());
  EXPECT_TRUE(tracker.Holds(TTracker::kWarning, "Invalid management channel address: "));
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_EQ(empty, monitor_->TEST_GetAdapter());

  SetSource(Source(0));
  TManagementAdapter* running = monitor_->TEST_GetAdapter();
  ASSERT_NE(nullptr, running->GetChannel());
  service_.UnsetObject(kSource, kVolatile);
  EXPECT_TRUE(tracker.Holds(TTracker::kError,
                            "Failed to retreive value of cfg.ip.rmtsource: Invalid argument"));
  service_.AddAdapter(std::make_unique<TRefusingAdapter>());
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_TRUE(tracker.Holds(TTracker::kError,
                            "Failed to retreive value of cfg.ip.rmtsource: Permission denied"));
  EXPECT_EQ(running, monitor_->TEST_GetAdapter());
}

// The source itself names a new source: the old adapter and channel are on the stack when
// the monitor replaces them, so they are deleted only after the delivery returned; the move
// is one change to watchers, and no failed read is traced.
TEST_F(TManagementMonitorTest, SourceThatMovesItselfIsOneChangeAndDeletedAfterItsDelivery) {
  SetSource(Source(0));
  service_.UnsetObject(kSource, kVolatile);  // the source's own value is the visible one now
  Push(0, "m.a", "1");
  subscriptions_.told.clear();
  tracker_.Tracker().messages.clear();

  Push(0, kSource, Source(1));
  EXPECT_EQ(Source(1), monitor_->TEST_GetAddress());
  EXPECT_EQ((std::vector<std::string>{"removed m.a", "changed cfg.ip.rmtsource"}),
            subscriptions_.told);
  EXPECT_FALSE(tracker_.Tracker().Holds(TTracker::kError, "Failed to retreive value"));
  for (int pass = 0; pass < 10 && monitor_->TEST_GetRetiredCount() != 0; ++pass) {
    loop_.RunOnce(100);
  }
  EXPECT_EQ(0u, monitor_->TEST_GetRetiredCount());
  Push(1, "m.c", "3");
  EXPECT_EQ("3", Get("m.c"));
}

}  // namespace
