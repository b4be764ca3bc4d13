#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/TVolatileAdapter.h"
#include "tests/adapters/TRecordingCallback.h"

namespace {

class TVolatileAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { adapter_.SetCallback(&callback_); }

  std::string Get(const std::string& name) {
    std::string value = "<absent>";
    adapter_.GetObject(name, value);
    return value;
  }

  TVolatileAdapter adapter_;
  test::TRecordingCallback callback_;
};

TEST_F(TVolatileAdapterTest, OnlyARealChangeIsReported) {
  ASSERT_TRUE(adapter_.IsStorageType(IToiInformationService::eVolatile));
  ASSERT_FALSE(adapter_.IsStorageType(IToiInformationService::ePermanent));
  adapter_.SetObject("var.a", "1");
  adapter_.SetObject("var.a", "1");
  adapter_.SetObject("var.a", "2");
  adapter_.SetObject("var.b", "");
  adapter_.SetObject("var.b", "");

  EXPECT_EQ((std::vector<std::string>{"set var.a", "set var.a", "set var.b"}), callback_.reports);
  EXPECT_EQ("2", Get("var.a"));
  EXPECT_TRUE(adapter_.HasObject("var.b"));
  EXPECT_EQ("", Get("var.b"));
}

TEST_F(TVolatileAdapterTest, UnsetReportsOnlyAHeldObject) {
  adapter_.SetObject("var.a", "1");
  adapter_.UnsetObject("var.a");
  adapter_.UnsetObject("var.a");
  adapter_.UnsetObject("var.never");

  EXPECT_EQ((std::vector<std::string>{"set var.a", "unset var.a"}), callback_.reports);
  EXPECT_FALSE(adapter_.HasObject("var.a"));
  EXPECT_EQ("<absent>", Get("var.a"));
}

TEST_F(TVolatileAdapterTest, LongAndBinaryValuesAreKeptWhole) {
  std::string value(1 << 20, 'x');
  value[7] = '\0';
  adapter_.SetObject("var.big", value);
  EXPECT_EQ(value, Get("var.big"));
}

}  // namespace
