#include "headend/TFileChangeWatcher.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "tests/TestSupport.h"

namespace {

class TFileChangeWatcherTest : public ::testing::TestWithParam<bool> {
 protected:
  TFileChangeWatcherTest() : loop_(clock_) {
    test::WriteFile(dir_.File("a"), "a");
    test::WriteFile(dir_.File("b"), "b");
  }

  // What the watcher saw after the loop had its chance (a poll's worth of time included).
  bool Changed() {
    clock_.Advance(TFileChangeWatcher::kPollMs);
    loop_.RunOnce(0);
    return watcher_.TakeChanged();
  }

  test::TTempDir dir_;
  TManualClock clock_;
  TEpollEventLoop loop_;
  TFileChangeWatcher watcher_{loop_, GetParam()};
};

TEST_P(TFileChangeWatcherTest, SeesWritesRenamesAndRemovalsOfWatchedFilesOnly) {
  EXPECT_EQ(watcher_.IsPolling(), GetParam());
  watcher_.Watch({dir_.File("a"), dir_.File("b")});
  EXPECT_FALSE(Changed());
  test::WriteFile(dir_.File("other"), "x");
  EXPECT_FALSE(Changed());
  test::WriteFile(dir_.File("b"), "bb");
  EXPECT_TRUE(Changed());
  EXPECT_FALSE(Changed());  // taken once
  test::WriteFile(dir_.File("a.new"), "new a");
  ASSERT_EQ(rename(dir_.File("a.new").c_str(), dir_.File("a").c_str()), 0);
  EXPECT_TRUE(Changed());
  watcher_.Watch({dir_.File("a")});  // b no longer watched
  ASSERT_EQ(remove(dir_.File("b").c_str()), 0);
  EXPECT_FALSE(Changed());
  ASSERT_EQ(remove(dir_.File("a").c_str()), 0);
  EXPECT_TRUE(Changed());
}

INSTANTIATE_TEST_SUITE_P(InotifyAndPoll, TFileChangeWatcherTest, ::testing::Values(false, true));

}  // namespace
