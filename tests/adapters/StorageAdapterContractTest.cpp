// The contract every storage adapter keeps, whatever holds its objects (a map, one file per
// object, a settings file): only a real change is reported, unsetting a name it does not hold
// reports nothing, and values come back byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapters/TFlashFsAdapter.h"
#include "adapters/TIalFileAdapter.h"
#include "adapters/TVolatileAdapter.h"
#include "tests/adapters/AdapterTestSupport.h"

namespace {

using namespace test;

struct TFakes {
  TTempDir dir;
  TFakeLoop loop;
  TManualClock clock{1000, 1800000000};
};

using TFactory = std::function<std::unique_ptr<IInformationAdapter>(TFakes&)>;

class StorageAdapterContractTest : public ::testing::TestWithParam<TFactory> {
 protected:
  void SetUp() override {
    adapter_ = GetParam()(fakes_);
    adapter_->SetCallback(&callback_);
    adapter_->InitializeObjects();
  }
  std::string Get(const std::string& name) { return ValueOf(*adapter_, name); }
  TScopedProcessTracker tracker_;
  TFakes fakes_;
  TRecordingCallback callback_;
  std::unique_ptr<IInformationAdapter> adapter_;
};

TEST_P(StorageAdapterContractTest, OnlyARealChangeIsReportedAndValuesAreKeptWhole) {
  adapter_->SetObject("tmp.a", "1");
  adapter_->SetObject("tmp.a", "1");
  adapter_->SetObject("tmp.a", "2");
  adapter_->SetObject("tmp.b", "");
  adapter_->SetObject("tmp.b", "");
  adapter_->UnsetObject("tmp.a");
  adapter_->UnsetObject("tmp.a");
  adapter_->UnsetObject("tmp.never");
  EXPECT_EQ((std::vector<std::string>{"set tmp.a", "set tmp.a", "set tmp.b", "unset tmp.a"}),
            callback_.reports);
  EXPECT_FALSE(adapter_->HasObject("tmp.a"));
  EXPECT_EQ("<absent>", Get("tmp.a"));
  EXPECT_TRUE(adapter_->HasObject("tmp.b"));
  EXPECT_EQ("", Get("tmp.b"));
  std::string value(1 << 20, 'x');
  value[7] = '\0';
  adapter_->SetObject("tmp.big", value);
  EXPECT_EQ(value, Get("tmp.big"));
}

std::unique_ptr<IInformationAdapter> MakeVolatile(TFakes&) {
  return std::make_unique<TVolatileAdapter>();
}
std::unique_ptr<IInformationAdapter> MakeObjectFiles(TFakes& fakes) {
  return std::make_unique<TIalFileAdapter>(fakes.dir.File("information/"),
                                           std::vector<std::string>{"tmp."},
                                           IInformationAdapter::TStorageType(1));
}
std::unique_ptr<IInformationAdapter> MakeSettingsFile(TFakes& fakes) {
  return std::make_unique<TFlashFsAdapter>(fakes.dir.File("settings.xml"),
                                           fakes.dir.File("settings.bak"), 10, 10, nullptr, nullptr,
                                           &fakes.loop, fakes.clock);
}
INSTANTIATE_TEST_SUITE_P(Adapters, StorageAdapterContractTest,
                         ::testing::Values(MakeVolatile, MakeObjectFiles, MakeSettingsFile));

}  // namespace
