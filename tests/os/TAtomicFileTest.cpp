#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "base/TException.h"
#include "os/TAtomicFile.h"
#include "tests/TestSupport.h"

namespace {

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.c_str());
  while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
    if (entry->d_name[0] != '.' || entry->d_name[1] > '.') names.push_back(entry->d_name);
  }
  if (dir) ::closedir(dir);
  return names;
}

class TAtomicFileTest : public ::testing::Test {
 protected:
  test::TTempDir dir_;
  std::string path_ = dir_.File("file");
  std::string temporary_ = dir_.File(".file.tmp");
};

TEST_F(TAtomicFileTest, ReplaceWritesExactlyTheBytesAndLeavesNoTemporaryFile) {
  TAtomicFile::Replace(path_, std::string("first, longer content"), 0640);
  TAtomicFile::Replace(path_, std::string("2nd\0x", 5), 0640);
  EXPECT_EQ(test::ReadFile(path_), std::string("2nd\0x", 5));
  TAtomicFile::Replace(path_, std::string(), 0640);
  EXPECT_EQ(test::ReadFile(path_), "");
  EXPECT_EQ(Entries(dir_.Path()), std::vector<std::string>{"file"});
  struct stat status {};
  ASSERT_EQ(::stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777 & ~0640, 0u);
}

TEST_F(TAtomicFileTest, TemporaryFileLeftByACrashIsReused) {
  test::WriteFile(temporary_, "half written by a process that died");
  ASSERT_EQ(::chmod(temporary_.c_str(), 0600), 0);
  TAtomicFile::Replace(path_, std::string("whole"), 0644);
  EXPECT_EQ(test::ReadFile(path_), "whole");
  EXPECT_EQ(Entries(dir_.Path()), std::vector<std::string>{"file"});
  struct stat status {};
  ASSERT_EQ(::stat(path_.c_str(), &status), 0);
  const mode_t umask = ::umask(0);
  ::umask(umask);
  EXPECT_EQ(status.st_mode & 0777, 0644u & ~static_cast<unsigned>(umask));
}

TEST_F(TAtomicFileTest, FailuresThrowWithThePathAndLeaveTheTargetUntouched) {
  TAtomicFile::Replace(path_, std::string("previous"), 0644);
  ASSERT_EQ(::mkdir(temporary_.c_str(), 0755), 0);
  try {
    TAtomicFile::Replace(path_, std::string("next"), 0644);
    FAIL();
  } catch (const TVerboseException& failure) {
    EXPECT_NE(std::string(failure.GetText()).find(temporary_), std::string::npos);
    EXPECT_EQ(failure.GetCode(), EEXIST);
  }
  EXPECT_EQ(test::ReadFile(path_), "previous");
  EXPECT_THROW(TAtomicFile::Replace(dir_.File("missing/file"), std::string("x"), 0644),
               TVerboseException);
}

// The file-size limit makes the write fail part-way, as a full disk does.
TEST_F(TAtomicFileTest, WriteFailingPartWayKeepsThePreviousContent) {
  TAtomicFile::Replace(path_, std::string("previous"), 0644);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      TAtomicFile::Replace(path_, std::string(100000, 'x'), 0644);
    } catch (const TVerboseException& failure) {
      ::_exit(failure.GetCode() == EFBIG ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(test::ReadFile(path_), "previous");
  EXPECT_EQ(Entries(dir_.Path()), std::vector<std::string>{"file"});
}

// A settings file may be a link to another partition, and its mode may have been narrowed;
// the rename must not turn the link into a file of its own nor widen the mode.
TEST_F(TAtomicFileTest, LinkedFileIsReplacedInItsOwnDirectoryAndKeepsItsMode) {
  ASSERT_EQ(::mkdir(dir_.File("real").c_str(), 0755), 0);
  const std::string real = dir_.File("real/file");
  test::WriteFile(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("real/file", path_.c_str()), 0);  // relative to the link's directory
  TAtomicFile::Replace(path_, std::string("new"), 0666);
  struct stat status {};
  ASSERT_EQ(::lstat(path_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(test::ReadFile(real), "new");
  ASSERT_EQ(::stat(real.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(Entries(dir_.File("real")), std::vector<std::string>{"file"});

  // A dangling link: the file it names is created; a loop of links is refused.
  const std::string dangling = dir_.File("dangling");
  ASSERT_EQ(::symlink(dir_.File("real/created").c_str(), dangling.c_str()), 0);
  TAtomicFile::Replace(dangling, std::string("x"), 0644);
  EXPECT_EQ(test::ReadFile(dir_.File("real/created")), "x");
  ASSERT_EQ(::lstat(dangling.c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(::symlink("loop", dir_.File("loop").c_str()), 0);
  EXPECT_THROW(TAtomicFile::Replace(dir_.File("loop"), std::string("x"), 0644), TVerboseException);
}

TEST_F(TAtomicFileTest, RemoveUnlinksAndReportsAMissingFile) {
  TAtomicFile::Replace(path_, std::string("x"), 0644);
  EXPECT_TRUE(TAtomicFile::Remove(path_));
  EXPECT_FALSE(TAtomicFile::Remove(path_));
  EXPECT_EQ(TAtomicFile::DirectoryOf("/b"), "/");
}

}  // namespace
