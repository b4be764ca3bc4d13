#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TException.h"
#include "base/TTracker.h"
#include "tests/TestSupport.h"

namespace {

TEST(TTrackerTest, LevelFiltersBySeverityAndMessagesArePrintfFormatted) {
  const std::vector<std::vector<int>> passed = {{},        {1},       {1, 2},
                                                {1, 2, 3}, {1, 2, 3}, {1, 2, 3, 5}};
  for (int level = 0; level < 6; ++level) {
    test::TRecordingTracker tracker(level);
    tracker.Fatal("f");
    tracker.Error("e");
    tracker.Warning("w");
    tracker.Trace("t");
    std::vector<int> severities;
    for (const auto& message : tracker.messages) severities.push_back(message.first);
    EXPECT_EQ(passed[level], severities) << level;
  }
  test::TRecordingTracker tracker;
  tracker.Warning("%s has %d aliases.", "cfg.a", 2);
  EXPECT_EQ("cfg.a has 2 aliases.", tracker.messages.at(0).second);
  TTracker* fallback = TTracker::GetProcessTracker();
  ASSERT_NE(nullptr, fallback);
  {
    test::TScopedProcessTracker scoped;
    EXPECT_EQ(&scoped.Tracker(), TTracker::GetProcessTracker());
  }
  EXPECT_EQ(fallback, TTracker::GetProcessTracker());
}

TEST(TExceptionTest, CodesAndACopiedText) {
  EXPECT_EQ(201, TUnknownObjectException("x").GetCode());
  EXPECT_EQ(202, TStorageLimitException("x").GetCode());
  std::string path = "/tmp/some file";
  TFileException file("open '" + path + "'");
  path.clear();  // the exception keeps its own copy
  EXPECT_EQ(207, file.GetCode());
  EXPECT_STREQ("open '/tmp/some file'", file.what());
  EXPECT_EQ(0, TVerboseException("x").GetCode());
}

}  // namespace
