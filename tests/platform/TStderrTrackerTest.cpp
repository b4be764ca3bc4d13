#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/TStderrTracker.h"
#include "tests/TestSupport.h"

namespace {

// Sends standard error to a file for the life of the object.
class TCapturedStderr final {
 public:
  explicit TCapturedStderr(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    std::FILE* file = std::fopen(path.c_str(), "w");
    dup2(fileno(file), STDERR_FILENO);
    std::fclose(file);
  }
  ~TCapturedStderr() { Release(); }
  std::string Release() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, STDERR_FILENO);
      close(saved_);
      saved_ = -1;
    }
    return test::ReadFile(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST(TStderrTrackerTest, WritesOneLinePerPassingMessage) {
  test::TTempDir dir;
  TCapturedStderr captured(dir.File("stderr"));
  TStderrTracker tracker(TTracker::kWarning, false);
  tracker.Fatal("TAliasList: %s", "broken");
  tracker.Warning("two\nlines");
  tracker.Trace("filtered out");
  tracker.Error("%s", std::string(5000, 'x').c_str());
  std::string output = captured.Release();
  std::string longLine = output.substr(output.find("ERROR: "));
  EXPECT_EQ(0u, output.find("FATAL: TAliasList: broken\nWARNING: two lines\nERROR: xxx"));
  EXPECT_LT(longLine.size(), 2100u);
  EXPECT_EQ('\n', longLine.back());
}

}  // namespace
