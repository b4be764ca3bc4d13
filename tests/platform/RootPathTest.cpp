#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/RootPath.h"

namespace {

// Sets INFOSERVICE_ROOT for one test and restores the previous state.
class RootPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = getenv("INFOSERVICE_ROOT");
    hadRoot_ = previous != nullptr;
    if (hadRoot_) previous_ = previous;
  }
  void TearDown() override {
    if (hadRoot_) {
      setenv("INFOSERVICE_ROOT", previous_.c_str(), 1);
    } else {
      unsetenv("INFOSERVICE_ROOT");
    }
  }

  bool hadRoot_ = false;
  std::string previous_;
};

TEST_F(RootPathTest, UnsetOrEmptyLeavesPathsAlone) {
  unsetenv("INFOSERVICE_ROOT");
  EXPECT_EQ("/etc/ial_token_value_dictionary.xml", RootPath("/etc/ial_token_value_dictionary.xml"));
  setenv("INFOSERVICE_ROOT", "", 1);
  EXPECT_EQ("/flash2/information/", RootPath("/flash2/information/"));
}

TEST_F(RootPathTest, RootIsPutInFrontWithOneSlash) {
  setenv("INFOSERVICE_ROOT", "/tmp/r", 1);
  EXPECT_EQ("/tmp/r/etc/x.xml", RootPath("/etc/x.xml"));
  setenv("INFOSERVICE_ROOT", "/tmp/r//", 1);
  EXPECT_EQ("/tmp/r/proc/cmdline", RootPath("/proc/cmdline"));
  setenv("INFOSERVICE_ROOT", "/", 1);
  EXPECT_EQ("/proc/cmdline", RootPath("/proc/cmdline"));
}

}  // namespace
