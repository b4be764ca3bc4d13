#include <gtest/gtest.h>
#include <stdio.h>

#include "headend/TFileChangeWatcher.h"
#include "os/TEpollEventLoop.h"
#include "os/TManualClock.h"
#include "tests/TestSupport.h"

class TFileChangeWatcherTest : public ::testing::TestWithParam<bool> {};

TEST_P(TFileChangeWatcherTest, SeesWritesRenamesAndRemovalsOfWatchedFilesOnly) {
  test::TTempDir dir;
  TManualClock clock;
  TEpollEventLoop loop(clock);
  TFileChangeWatcher watcher(loop, GetParam());
  auto changed = [&](const char* write, const char* remove, bool changed) {
    if (write) test::WriteFile(dir.File(write), write);
    ASSERT_TRUE(!remove || rename(dir.File(write).c_str(), dir.File(remove).c_str()) == 0);
    clock.Advance(TFileChangeWatcher::kPollMs);  // a poll's worth of time
    loop.RunOnce(0);
    EXPECT_EQ(watcher.TakeChanged(), changed) << (write ? write : "-") << (remove ? remove : "");
  };
  test::WriteFile(dir.File("a"), "");
  test::WriteFile(dir.File("b"), "");
  watcher.Watch({dir.File("a"), dir.File("b")});
  changed(nullptr, nullptr, false);
  changed("other", nullptr, false);
  changed("b", nullptr, true);
  changed(nullptr, nullptr, false);  // taken once
  changed("a.new", "a", true);       // replaced by rename
  watcher.Watch({dir.File("a")});
  changed("b", nullptr, false);
  changed("other", "a", true);
}

INSTANTIATE_TEST_SUITE_P(InotifyAndPoll, TFileChangeWatcherTest, ::testing::Values(false, true));
