#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/TManagementAdapter.h"
#include "os/TManualClock.h"
#include "tests/TestSupport.h"
#include "tests/adapters/AdapterTestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

// The map side of the adapter, fed as its channel would feed it, with room for 3 objects or
// 40 bytes of names and values.
class TManagementAdapterTest : public ::testing::Test {
 protected:
  TManagementAdapterTest() { adapter_.SetCallback(&callback_); }
  bool Holds(const std::string& name, const std::string& v) {
    return adapter_.OnCompareObject(name, v);
  }

  test::TScopedProcessTracker scoped_;
  test::TRecordingTracker& tracker_ = scoped_.Tracker();
  test::TFakeLoop loop_;
  TManualClock clock_;
  test::TFakeObjects objects_;
  TManagementAdapter adapter_{"127.0.0.1:0", 1600, objects_, loop_, clock_, {3, 40}};
  test::TRecordingCallback callback_;
};

// Objects are stored, compared and withdrawn (reported even when not held); past the count or
// the byte total an object is refused, a change that fits is taken. Retired, the adapter
// reports what it holds as unset, but the name it keeps. The channel's hardware filter reads
// manufacturer, product name and version, also when the filter holds no colon.
TEST_F(TManagementAdapterTest, ObjectsAreBoundedAndTheHardwareFilterIsRead) {
  objects_.values = {{"const.hw.manufacturer", "maker"}, {"const.hw.productname", "box"}};
  adapter_.InitializeObjects();
  ASSERT_NE(nullptr, adapter_.GetChannel());
  std::string filter = "H=maker-box";
  filter.resize(32, '\0');
  EXPECT_TRUE(adapter_.GetChannel()->GetFilters().TargetFilterActive(filter));
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "(const.hw.version)"));

  adapter_.OnObjectChanged("m.a", "1");
  EXPECT_TRUE(Holds("m.a", "1") && !Holds("m.a", "2") && !Holds("m.b", "1"));
  adapter_.OnObjectChanged("m.a", "");
  adapter_.OnObjectChanged("m.never", "");
  EXPECT_EQ((std::vector<std::string>{"set m.a", "unset m.a", "unset m.never"}), callback_.reports);
  EXPECT_FALSE(adapter_.IsStorageType(IToiInformationService::eVolatile));  // no client writes

  for (const char* name : {"m.a", "m.b", "m.c", "m.d"}) adapter_.OnObjectChanged(name, "1");
  EXPECT_FALSE(adapter_.HasObject("m.d"));
  adapter_.OnObjectChanged("m.a", std::string(30, 'x'));  // 8 + 3 + 30 = 41 bytes
  EXPECT_TRUE(Holds("m.a", "1"));
  adapter_.OnObjectChanged("m.a", std::string(29, 'x'));  // exactly 40
  adapter_.OnObjectChanged("m.b", "");
  adapter_.OnObjectChanged("m.d", "4");
  EXPECT_TRUE(adapter_.HasObject("m.d"));
  EXPECT_EQ(40u, adapter_.GetTotalBytes());
  callback_.reports.clear();
  adapter_.Retire("m.c");
  EXPECT_EQ((std::vector<std::string>{"unset m.a", "unset m.d"}), callback_.reports);
}

}  // namespace
