#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/TManagementAdapter.h"
#include "os/TManualClock.h"
#include "tests/TestSupport.h"
#include "tests/adapters/AdapterTestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

// The map side of the adapter, fed as its channel would feed it, with small limits.
class TManagementAdapterTest : public ::testing::Test {
 protected:
  TManagementAdapterTest() : adapter_("127.0.0.1:0", 1600, objects_, loop_, clock_, {3, 40}) {
    adapter_.SetCallback(&callback_);
  }

  test::TScopedProcessTracker tracker_;
  test::TFakeLoop loop_;
  TManualClock clock_;
  test::TFakeObjects objects_;
  TManagementAdapter adapter_;
  test::TRecordingCallback callback_;
};

TEST_F(TManagementAdapterTest, ReceivedObjectsAreComparedStoredAndWithdrawn) {
  EXPECT_FALSE(adapter_.OnCompareObject("m.a", "1"));
  adapter_.OnObjectChanged("m.a", "1");
  EXPECT_TRUE(adapter_.OnCompareObject("m.a", "1"));
  EXPECT_FALSE(adapter_.OnCompareObject("m.a", "2"));
  adapter_.OnObjectChanged("m.a", "");
  adapter_.OnObjectChanged("m.never", "");
  EXPECT_FALSE(adapter_.HasObject("m.a"));
  EXPECT_EQ((std::vector<std::string>{"set m.a", "unset m.a", "unset m.never"}), callback_.reports);
  EXPECT_EQ(0u, adapter_.GetTotalBytes());
  // No writes from clients.
  EXPECT_FALSE(adapter_.IsStorageType(IToiInformationService::eVolatile));
  // Retired, it reports what it holds as unset, but the name it was asked to keep.
  adapter_.OnObjectChanged("m.b", "2");
  adapter_.OnObjectChanged("m.keep", "3");
  callback_.reports.clear();
  adapter_.Retire("m.keep");
  EXPECT_EQ((std::vector<std::string>{"unset m.b"}), callback_.reports);
}

// Past the object count or the byte total a received object is refused with a warning; a
// change that fits, and a new object once room was made, are taken.
TEST_F(TManagementAdapterTest, LimitsRefuseWhatWouldNotFit) {
  auto& tracker = tracker_.Tracker();
  adapter_.OnObjectChanged("m.a", "1");
  adapter_.OnObjectChanged("m.b", "2");
  adapter_.OnObjectChanged("m.c", "3");
  adapter_.OnObjectChanged("m.d", "4");
  EXPECT_FALSE(adapter_.HasObject("m.d"));
  EXPECT_TRUE(tracker.Holds(TTracker::kWarning, "TManagementAdapter: Object 'm.d' refused"));
  tracker.messages.clear();
  adapter_.OnObjectChanged("m.a", std::string(30, 'x'));  // 8 + 3 + 30 = 41 bytes
  EXPECT_TRUE(adapter_.OnCompareObject("m.a", "1"));
  EXPECT_TRUE(tracker.Holds(TTracker::kWarning, "TManagementAdapter: Object 'm.a' refused"));
  adapter_.OnObjectChanged("m.a", std::string(29, 'x'));  // exactly 40
  EXPECT_EQ(40u, adapter_.GetTotalBytes());
  adapter_.OnObjectChanged("m.b", "");
  adapter_.OnObjectChanged("m.d", "4");
  EXPECT_TRUE(adapter_.HasObject("m.d"));
  EXPECT_EQ(40u, adapter_.GetTotalBytes());
}

// The channel's hardware filter reads manufacturer, product name and version in that order,
// also when the filter holds no colon: a missing version is traced with its own name.
TEST_F(TManagementAdapterTest, HardwareFilterReadsTheVersionWithoutAColon) {
  objects_.values = {{"const.hw.manufacturer", "maker"}, {"const.hw.productname", "box"}};
  adapter_.InitializeObjects();
  ASSERT_NE(nullptr, adapter_.GetChannel());
  std::string filter = "H=maker-box";
  filter.resize(32, '\0');
  EXPECT_TRUE(adapter_.GetChannel()->GetFilters().TargetFilterActive(filter));
  EXPECT_TRUE(tracker_.Tracker().Holds(TTracker::kError, "(const.hw.version)"));
}

}  // namespace
