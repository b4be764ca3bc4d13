// The one-file-per-object adapter; client FIFOs and unsafe names are tried against the daemon
// (tests/integration/StorageDaemonTest.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "adapters/TIalFileAdapter.h"
#include "base/TException.h"
#include "tests/adapters/AdapterTestSupport.h"

using namespace test;

namespace {

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

class TIalFileAdapterTest : public ::testing::Test {
 protected:
  TIalFileAdapterTest() { adapter_.SetCallback(&callback_); }
  // Declared first so that the adapter takes the recording tracker at construction.
  TScopedProcessTracker tracker_;
  TTempDir dir_;
  std::string directory_ = dir_.File("information/");
  TIalFileAdapter adapter_{directory_, {"tmp.", "_tmp."}, IInformationAdapter::TStorageType(1)};
  TRecordingCallback callback_;
};

TEST_F(TIalFileAdapterTest, StartUpTakesOnlyFilesWithAPrefix) {
  ASSERT_EQ(::mkdir(directory_.c_str(), 0755), 0);
  WriteFile(directory_ + "tmp.a", "content of a");
  WriteFile(directory_ + "_tmp.b", "");
  WriteFile(directory_ + "other", "x");
  WriteFile(directory_ + ".tmp.c.tmp", "left by a crash");
  adapter_.InitializeObjects();
  EXPECT_EQ(ValueOf(adapter_, "tmp.a"), "content of a");
  EXPECT_EQ(ValueOf(adapter_, "_tmp.b"), "");
  EXPECT_FALSE(adapter_.HasObject("other") || adapter_.HasObject(".tmp.c.tmp"));
  EXPECT_TRUE(callback_.reports.empty());
}

// Which reports a change gives is the storage adapters' common contract; here, the files.
TEST_F(TIalFileAdapterTest, FirstSetMakesTheDirectoryOnlyARealChangeRewritesTheFile) {
  adapter_.InitializeObjects();
  adapter_.SetObject("tmp.a", "1");
  EXPECT_EQ(ListDirectory(directory_), std::vector<std::string>{"tmp.a"});  // no temporary left
  const ino_t first = InodeOf(directory_ + "tmp.a");
  adapter_.SetObject("tmp.a", "1");
  EXPECT_EQ(InodeOf(directory_ + "tmp.a"), first);
  adapter_.SetObject("tmp.a", "2");
  EXPECT_NE(InodeOf(directory_ + "tmp.a"), first);
  adapter_.UnsetObject("tmp.a");
  EXPECT_FALSE(FileExists(directory_ + "tmp.a"));
  const std::string longest = "tmp." + std::string(251, 'x');  // 255 bytes, temporary included
  adapter_.SetObject(longest, "v");
  EXPECT_EQ(ValueOf(adapter_, longest), "v");
}

// Failed copies, a file removed behind the daemon's back, a directory that cannot be made and
// a write that fails each answer 207 and change neither the file nor the map.
TEST_F(TIalFileAdapterTest, FileFailuresAnswer207AndChangeNothing) {
  adapter_.SetObject("tmp.a", "old");
  WriteFile(dir_.File("empty"), "");
  for (const std::string& source : {dir_.File("missing"), dir_.File("empty")}) {
    EXPECT_EQ(Refusal([&] { adapter_.SetObjectFromFile("tmp.a", source); }),
              "207 TIalFileAdapter::CopyFileIfNotEqual(): Failed to open source file " + source);
  }
  EXPECT_EQ(Refusal([&] { adapter_.GetObjectToFile("tmp.a", dir_.File("no/destination")); }),
            "207 Failed to open file for writing.");
  EXPECT_FALSE(adapter_.GetObjectToFile("tmp.absent", dir_.File("no/destination")));
  ASSERT_EQ(::mkdir((directory_ + ".tmp.a.tmp").c_str(), 0755), 0);
  EXPECT_THROW(adapter_.SetObject("tmp.a", "new"), TFileException);
  EXPECT_EQ(ValueOf(adapter_, "tmp.a"), "old");
  EXPECT_TRUE(tracker_.Tracker().Holds(TTracker::kError, "TIalFileAdapter: Cannot open file"));
  EXPECT_EQ(callback_.reports.size(), 1u);
  ASSERT_EQ(::unlink((directory_ + "tmp.a").c_str()), 0);
  EXPECT_THROW(ValueOf(adapter_, "tmp.a"), TFileException);
  EXPECT_THROW(adapter_.GetObjectToFile("tmp.a", dir_.File("x")), TFileException);
  WriteFile(dir_.File("file"), "in the way");
  TIalFileAdapter blocked(dir_.File("file/information/"), {"tmp."},
                          IInformationAdapter::TStorageType(1));
  blocked.SetCallback(&callback_);
  EXPECT_THROW(blocked.SetObject("tmp.a", "1"), TFileException);
  EXPECT_FALSE(blocked.HasObject("tmp.a"));
  EXPECT_EQ(callback_.reports.size(), 1u);
}

}  // namespace
