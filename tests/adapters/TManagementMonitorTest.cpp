#include <gtest/gtest.h>
#include <sys/socket.h>

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
    service_ = std::make_unique<TInformationService>("", &subscriptions_);
    service_->AddAdapter(new TVolatileAdapter());
    service_->Start();
    monitor_ = std::make_unique<TManagementMonitor>(service_.get(), &loop_);
    service_->AddMonitor(monitor_.get());
    for (int& port : ports_) port = TUdpSocket("127.0.0.1", 0).GetPort();
  }
  ~TManagementMonitorTest() override {
    service_->RemoveMonitor(monitor_.get());
    monitor_.reset();
    service_.reset();
  }

  std::string Source(int index) const { return "127.0.0.1:" + std::to_string(ports_[index]); }
  void SetSource(const std::string& value) { service_->SetObject(kSource, value, kVolatile); }

  // Sends one object to the source `index` and runs the loop until it was handled, then once
  // more for what the delivery left to do.
  void Push(int index, const std::string& name, const std::string& value) {
    for (const std::string& datagram : TInfocastPacketizer(1, 4, name, 1400).Packetize(value)) {
      test::SendAndServe(sender_, ports_[index], datagram, loop_);
    }
  }
  std::string Get(const std::string& name) {
    std::string value;
    service_->GetObject(name, value);
    return value;
  }
  bool Holds(const std::string& name) { return service_->FindAdapter(name) != nullptr; }

  test::TScopedProcessTracker tracker_;
  TEpollEventLoop loop_;
  TRecordingSubscriptions subscriptions_;
  std::unique_ptr<TInformationService> service_;
  std::unique_ptr<TManagementMonitor> monitor_;
  TUdpSocket sender_;
  int ports_[2] = {0, 0};
};

// First report starts the adapter, the same value keeps it, another value replaces it: the
// old source's objects leave the service, and watchers are told of those nobody else holds.
TEST_F(TManagementMonitorTest, SourceStartsKeepsAndReplacesTheAdapter) {
  EXPECT_FALSE(monitor_->ObjectUpdate("cfg.ip.other"));
  EXPECT_EQ(nullptr, monitor_->GetAdapter());

  SetSource(Source(0));
  TManagementAdapter* first = monitor_->GetAdapter();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, first->GetChannel());
  EXPECT_TRUE(first->GetChannel()->IsConnected());
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_EQ(first, monitor_->GetAdapter());

  service_->SetObject("m.shadow", "local", kVolatile);
  Push(0, "m.a", "1");
  Push(0, "m.shadow", "remote");
  EXPECT_EQ("1", Get("m.a"));
  // Appended last: every other adapter shadows it.
  EXPECT_EQ("local", Get("m.shadow"));
  subscriptions_.told.clear();

  SetSource(Source(1));
  ASSERT_NE(first, monitor_->GetAdapter());
  EXPECT_FALSE(Holds("m.a"));
  EXPECT_EQ("local", Get("m.shadow"));
  EXPECT_EQ((std::vector<std::string>{"removed m.a", "changed cfg.ip.rmtsource"}),
            subscriptions_.told);
  EXPECT_EQ(0u, monitor_->GetRetiredCount());
  Push(1, "m.b", "from the new source");
  EXPECT_EQ("from the new source", Get("m.b"));
}

// A value without a colon gives an adapter without a channel, kept while the value stays and
// replaced by a valid one; a read that fails keeps the running adapter.
TEST_F(TManagementMonitorTest, UnusableValuesAndFailedReads) {
  auto& tracker = tracker_.Tracker();
  SetSource("");
  TManagementAdapter* empty = monitor_->GetAdapter();
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(nullptr, empty->GetChannel());
  EXPECT_TRUE(tracker.Holds(TTracker::kWarning, "Invalid management channel address: "));
  SetSource("");
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_EQ(empty, monitor_->GetAdapter());

  SetSource("10.0.0.1");
  EXPECT_TRUE(tracker.Holds(TTracker::kWarning, "Invalid management channel address: 10.0.0.1"));
  SetSource(Source(0));
  TManagementAdapter* running = monitor_->GetAdapter();
  ASSERT_NE(nullptr, running->GetChannel());

  service_->UnsetObject(kSource, kVolatile);
  EXPECT_TRUE(tracker.Holds(TTracker::kError,
                            "Failed to retreive value of cfg.ip.rmtsource: Invalid argument"));
  EXPECT_EQ(running, monitor_->GetAdapter());

  service_->AddAdapter(new TRefusingAdapter());
  EXPECT_FALSE(monitor_->ObjectUpdate(kSource));
  EXPECT_TRUE(tracker.Holds(TTracker::kError,
                            "Failed to retreive value of cfg.ip.rmtsource: Permission denied"));
  EXPECT_EQ(running, monitor_->GetAdapter());
}

// The source itself names a new source: the old adapter and channel are on the stack when
// the monitor replaces them, so they are deleted only after the delivery returned.
TEST_F(TManagementMonitorTest, SourceThatMovesItselfIsDeletedAfterItsDelivery) {
  SetSource(Source(0));
  // Nobody else holds cfg.ip.rmtsource now, so the source's own value is the visible one.
  service_->UnsetObject(kSource, kVolatile);
  Push(0, "m.a", "1");
  TManagementAdapter* old = monitor_->GetAdapter();

  Push(0, kSource, Source(1));
  EXPECT_NE(old, monitor_->GetAdapter());
  EXPECT_EQ(Source(1), monitor_->GetAddress());
  EXPECT_FALSE(Holds("m.a"));
  for (int pass = 0; pass < 10 && monitor_->GetRetiredCount() != 0; ++pass) loop_.RunOnce(100);
  EXPECT_EQ(0u, monitor_->GetRetiredCount());
  Push(1, "m.c", "3");
  EXPECT_EQ("3", Get("m.c"));
}

}  // namespace
