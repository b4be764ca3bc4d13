#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/TStderrTracker.h"

namespace {

// The child's standard error is matched whole: one line per passing message, newlines inside a
// message flattened, a long message cut to a bounded line.
TEST(TStderrTrackerTest, WritesOneLinePerPassingMessage) {
  auto trace = [] {
    TStderrTracker tracker(TTracker::kWarning, false);
    tracker.Fatal("TAliasList: %s", "broken");
    tracker.Warning("two\nlines");
    tracker.Trace("filtered out");
    tracker.Error("%s", std::string(5000, 'x').c_str());
    std::exit(0);
  };
  EXPECT_EXIT(trace(), ::testing::ExitedWithCode(0),
              "^FATAL: TAliasList: broken\nWARNING: two lines\nERROR: x{100,2090}\n$");
}

}  // namespace
