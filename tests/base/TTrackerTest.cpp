#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TException.h"
#include "base/TTracker.h"
#include "tests/TestSupport.h"

namespace {

std::vector<int> SeveritiesPassed(int level) {
  test::TRecordingTracker tracker(level);
  tracker.Fatal("f %d", 1);
  tracker.Error("e %s", "x");
  tracker.Warning("w");
  tracker.Trace("t");
  std::vector<int> severities;
  for (const auto& message : tracker.messages) severities.push_back(message.first);
  return severities;
}

TEST(TTrackerTest, LevelFiltersBySeverityAndMessagesArePrintfFormatted) {
  EXPECT_EQ((std::vector<int>{}), SeveritiesPassed(0));
  EXPECT_EQ((std::vector<int>{1}), SeveritiesPassed(1));
  EXPECT_EQ((std::vector<int>{1, 2}), SeveritiesPassed(2));
  EXPECT_EQ((std::vector<int>{1, 2, 3}), SeveritiesPassed(4));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 5}), SeveritiesPassed(5));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 5}), SeveritiesPassed(6));
  test::TRecordingTracker tracker;
  tracker.Warning("TInformationService::Translate %s has %d aliases.", "cfg.a", 2);
  EXPECT_EQ("TInformationService::Translate cfg.a has 2 aliases.", tracker.messages.at(0).second);
}

TEST(TTrackerTest, ProcessTrackerIsNeverNull) {
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
  TFileException file("Failed to open file '" + path + "'.");
  path.clear();  // the exception keeps its own copy
  EXPECT_EQ(207, file.GetCode());
  EXPECT_STREQ("Failed to open file '/tmp/some file'.", file.what());
  EXPECT_EQ(0, TVerboseException("x").GetCode());
}

}  // namespace
