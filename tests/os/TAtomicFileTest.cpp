#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "base/TException.h"
#include "os/TAtomicFile.h"
#include "tests/TestSupport.h"

namespace {

using test::ListDirectory;
using test::ReadFile;
using Names = std::vector<std::string>;

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0);
  return status.st_mode & 07777;
}

class TAtomicFileTest : public ::testing::Test {
 protected:
  test::TTempDir dir_;
  std::string path_ = dir_.File("file");
  std::string temporary_ = dir_.File(".file.tmp");
};

// A temporary file left by a crash is taken over; a new file gets mode & ~umask.
TEST_F(TAtomicFileTest, ReplaceWritesExactlyTheBytesAndLeavesNoTemporaryFile) {
  test::WriteFile(temporary_, "half written by a process that died");
  ASSERT_EQ(::chmod(temporary_.c_str(), 0600), 0);
  TAtomicFile::Replace(path_, std::string("first, longer content"), 0644);
  const mode_t umask = ::umask(0);
  ::umask(umask);
  EXPECT_EQ(ModeOf(path_), 0644u & ~static_cast<unsigned>(umask));
  TAtomicFile::Replace(path_, std::string("2nd\0x", 5), 0600);
  EXPECT_EQ(ReadFile(path_), std::string("2nd\0x", 5));
  TAtomicFile::Replace(path_, std::string(), 0640);
  EXPECT_EQ(ReadFile(path_), "");
  EXPECT_EQ(ListDirectory(dir_.Path()), Names{"file"});
  EXPECT_TRUE(TAtomicFile::Remove(path_));
  EXPECT_FALSE(TAtomicFile::Remove(path_));
  EXPECT_EQ(TAtomicFile::DirectoryOf("/b"), "/");
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
  EXPECT_EQ(ReadFile(path_), "previous");
  EXPECT_THROW(TAtomicFile::Replace(dir_.File("missing/file"), std::string("x"), 0644),
               TVerboseException);
  ASSERT_EQ(::rmdir(temporary_.c_str()), 0);
  // The file-size limit makes the write fail part-way, as a full disk does.
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
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(path_), "previous");
  EXPECT_EQ(ListDirectory(dir_.Path()), Names{"file"});
}

// A settings file may be a link to another partition, and its mode may have been narrowed;
// the rename must not turn the link into a file of its own nor widen the mode.
TEST_F(TAtomicFileTest, LinkedFileIsReplacedInItsOwnDirectoryAndKeepsItsMode) {
  ASSERT_EQ(::mkdir(dir_.File("real").c_str(), 0755), 0);
  const std::string real = dir_.File("real/file");
  test::WriteFile(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("real/file", path_.c_str()), 0);  // relative to the link's directory
  // A dangling link: the file it names is created.
  ASSERT_EQ(::symlink(dir_.File("real/created").c_str(), dir_.File("dangling").c_str()), 0);
  TAtomicFile::Replace(path_, std::string("new"), 0666);
  TAtomicFile::Replace(dir_.File("dangling"), std::string("x"), 0644);
  EXPECT_EQ(ReadFile(real), "new");
  EXPECT_EQ(ModeOf(real), 0600u);
  EXPECT_EQ(ReadFile(dir_.File("real/created")), "x");
  EXPECT_EQ(ListDirectory(dir_.File("real")), (Names{"created", "file"}));
  struct stat status {};
  for (const char* link : {"file", "dangling"}) {
    ASSERT_EQ(::lstat(dir_.File(link).c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode)) << link;
  }
  ASSERT_EQ(::symlink("loop", dir_.File("loop").c_str()), 0);
  EXPECT_THROW(TAtomicFile::Replace(dir_.File("loop"), std::string("x"), 0644), TVerboseException);
}

}  // namespace
