#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "adapters/TIalFileAdapter.h"
#include "base/TException.h"
#include "os/TUniqueFd.h"
#include "tests/adapters/AdapterTestSupport.h"

using namespace test;

class TIalFileAdapterTest : public ::testing::Test {
 protected:
  TIalFileAdapterTest() { adapter_.SetCallback(&callback_); }

  std::string Get(const std::string& name) { return test::ValueOf(adapter_, name); }

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
  EXPECT_EQ(Get("tmp.a"), "content of a");
  EXPECT_EQ(Get("_tmp.b"), "");
  EXPECT_FALSE(adapter_.HasObject("other"));
  EXPECT_FALSE(adapter_.HasObject(".tmp.c.tmp"));
  EXPECT_TRUE(callback_.reports.empty());
}

// Which reports a change gives is the storage adapters' common contract; here, the files.
// Copying from and to files when they are fine is checked through infoctl.
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
}

TEST_F(TIalFileAdapterTest, FileOperationsFailWith207AndChangeNothing) {
  adapter_.SetObject("tmp.a", "old");
  WriteFile(dir_.File("empty"), "");
  for (const std::string& source : {dir_.File("missing"), dir_.File("empty")}) {
    try {
      adapter_.SetObjectFromFile("tmp.a", source);
      FAIL() << "accepted " << source;
    } catch (const TFileException& failure) {
      EXPECT_EQ(std::string(failure.GetText()),
                "TIalFileAdapter::CopyFileIfNotEqual(): Failed to open source file " + source);
    }
  }
  try {
    adapter_.GetObjectToFile("tmp.a", dir_.File("no-such-destination"));
    FAIL();
  } catch (const TFileException& failure) {
    EXPECT_STREQ(failure.GetText(), "Failed to open file for writing.");
  }
  EXPECT_FALSE(adapter_.GetObjectToFile("tmp.absent", dir_.File("no-such-destination")));
  EXPECT_EQ(Get("tmp.a"), "old");
  EXPECT_EQ(callback_.reports.size(), 1u);
  // A copy from a file to an object that has no file yet says which copy it is.
  WriteFile(dir_.File("source"), "v");
  adapter_.SetObjectFromFile("tmp.b", dir_.File("source"));
  EXPECT_TRUE(tracker_.Tracker().Holds(
      TTracker::kTrace, "TIalFileAdapter::CopyFileIfNotEqual(): Failed to open destination file " +
                            directory_ + "tmp.b (file will be created)"));
}

// The destination is the client's choice and may be a FIFO; the loop thread must not wait on
// it, neither for a reader to come nor for one to read.
TEST_F(TIalFileAdapterTest, GetToAFifoThatWouldBlockAnswers207) {
  adapter_.SetObject("tmp.big", std::string(1024 * 1024, 'x'));  // more than a pipe holds
  const std::string fifo = dir_.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto failure = [&] {
    try {
      adapter_.GetObjectToFile("tmp.big", fifo);
    } catch (const TFileException& refused) {
      return std::string(refused.GetText());
    }
    return std::string("written");
  };
  EXPECT_EQ(failure(), "Failed to open file for writing.");
  TUniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader.IsValid());
  EXPECT_EQ(failure(), "Failed to write to file.");
  EXPECT_TRUE(
      tracker_.Tracker().Holds(TTracker::kError, "TIalFileAdapter::CopyFile(): Failed to write"));
}

TEST_F(TIalFileAdapterTest, FileRemovedBehindTheDaemonsBackAnswers207) {
  adapter_.SetObject("tmp.a", "1");
  ASSERT_EQ(::unlink((directory_ + "tmp.a").c_str()), 0);
  EXPECT_THROW(Get("tmp.a"), TFileException);
  EXPECT_THROW(adapter_.GetObjectToFile("tmp.a", dir_.File("x")), TFileException);
}

TEST_F(TIalFileAdapterTest, NamesThatAreNotPlainFileNamesAreRefusedBeforeAnyFileIsTouched) {
  const std::string nul("tmp.a\0b", 7);
  for (const std::string& name : {std::string("tmp./../../escaped"), std::string("tmp.a/b"),
                                  std::string("tmp./"), nul, "tmp." + std::string(252, 'x')}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(adapter_.SupportsObject(name));
    EXPECT_THROW(adapter_.SetObject(name, "v"), TUnknownObjectException);
    WriteFile(dir_.File("source"), "v");
    EXPECT_THROW(adapter_.SetObjectFromFile(name, dir_.File("source")), TUnknownObjectException);
  }
  EXPECT_FALSE(FileExists(directory_));
  EXPECT_FALSE(FileExists(dir_.File("escaped")));
  EXPECT_TRUE(callback_.reports.empty());
  // The longest allowed name (255 bytes) works, temporary file included.
  const std::string longest = "tmp." + std::string(251, 'x');
  adapter_.SetObject(longest, "v");
  EXPECT_EQ(Get(longest), "v");
}

TEST_F(TIalFileAdapterTest, DirectoryThatCannotBeCreatedAnswers207) {
  WriteFile(dir_.File("file"), "in the way");
  TIalFileAdapter blocked(dir_.File("file/information/"), {"tmp."},
                          IInformationAdapter::TStorageType(1));
  blocked.SetCallback(&callback_);
  EXPECT_THROW(blocked.SetObject("tmp.a", "1"), TFileException);
  EXPECT_FALSE(blocked.HasObject("tmp.a"));
  EXPECT_TRUE(callback_.reports.empty());
}

// A full disk (file-size limit) on the same path is checked against the daemon and the atomic
// file helper.
TEST_F(TIalFileAdapterTest, FailedWriteKeepsThePreviousFileAndTheMap) {
  adapter_.SetObject("tmp.a", "old");
  ASSERT_EQ(::mkdir((directory_ + ".tmp.a.tmp").c_str(), 0755), 0);
  EXPECT_THROW(adapter_.SetObject("tmp.a", "new"), TFileException);
  EXPECT_EQ(Get("tmp.a"), "old");
  EXPECT_TRUE(tracker_.Tracker().Holds(TTracker::kError, "TIalFileAdapter: Cannot open file"));
}
