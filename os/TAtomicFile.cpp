#include "os/TAtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "base/TException.h"
#include "base/TTracker.h"
#include "os/TUniqueFd.h"
#include "os/WriteAll.h"

// Why every kept file goes through a temporary file:
// Opening the target with truncation and writing it in place leaves, after a crash or power
// cut in the middle, a truncated file; the settings loader then rejects it and every setting
// is gone. A full disk does the same without any crash. Writing a temporary file in the same
// directory (rename only replaces atomically within one file system), syncing its data before
// the rename (else the rename may reach flash before the data and a power cut leaves an empty
// file under the real name), then syncing the directory (else the rename itself may be lost)
// means the target holds either the complete old or the complete new content at every moment.
//
// The rename replaces the directory entry, so two properties of the old file are carried over
// by hand: when the path is a symbolic link (a settings file linked to another partition, say)
// the file the link points to is replaced and the link stays, and an existing file keeps its
// permission bits, which someone may have narrowed on purpose.

namespace {

// Names longer than this are cut for the temporary name, which must stay within NAME_MAX
// (255) with its "." and ".tmp". Two long names sharing their first bytes share a temporary
// name, which is harmless: one replacement finishes before the next starts.
constexpr size_t kMaxTemporaryStem = 240;
// Links followed before giving up with ELOOP, as the kernel does for a path.
constexpr int kMaxLinks = 40;

std::string TemporaryPathOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return head + "." + base.substr(0, kMaxTemporaryStem) + ".tmp";
}

[[noreturn]] void Fail(const std::string& context, int errnum) {
  throw TVerboseException(ErrnoMessage(context, errnum), errnum);
}

void SyncDirectory(const std::string& directory) {
  TUniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.IsValid() && ::fsync(dir.Get()) == 0) return;
  // Some file systems refuse to sync a directory (EINVAL); there is nothing more to do.
  if (errno == EINVAL) return;
  TTracker::GetProcessTracker()->Warning(
      "TAtomicFile: %s",
      ErrnoMessage("Cannot sync directory \"" + directory + "\"", errno).c_str());
}

// The path with every symbolic link at its end followed; a dangling link gives the path it
// points to, which the replacement then creates. Links in the directory part are left to the
// kernel, which follows them anyway.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
    if (length < 0 || static_cast<size_t>(length) >= sizeof target) {
      const int errnum = length < 0 ? errno : ENAMETOOLONG;
      Fail("Cannot read link \"" + current + "\"", errnum);
    }
    const std::string link(target, static_cast<size_t>(length));
    if (link[0] == '/') {
      current = link;
    } else {
      const std::string directory = TAtomicFile::DirectoryOf(current);
      current = (directory == "/" ? directory : directory + "/") + link;
    }
  }
  Fail("Cannot follow the links of \"" + path + "\"", ELOOP);
}

}  // namespace

std::string TAtomicFile::DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void TAtomicFile::Replace(const std::string& linkOrPath, const char* data, size_t length,
                          mode_t mode) {
  const std::string path = FollowLinks(linkOrPath);
  struct stat existing {};
  const bool keepMode = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  const std::string temporary = TemporaryPathOf(path);
  // A temporary file left by a crash is removed first; O_EXCL then makes sure the bytes go
  // into a fresh file with the wanted mode, never through a link planted under that name.
  ::unlink(temporary.c_str());
  TUniqueFd file(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!file.IsValid()) Fail("Cannot open file \"" + temporary + "\" for writing", errno);

  const char* failure = nullptr;
  // The creation mode passed the umask; an existing file's bits are set exactly as they were.
  if (keepMode && ::fchmod(file.Get(), existing.st_mode & 07777) != 0) {
    failure = "Cannot set the mode of file \"";
  } else if (!WriteAll(file.Get(), data, length)) {
    failure = "Cannot write file \"";
  } else if (::fsync(file.Get()) != 0) {
    failure = "Cannot sync file \"";
  } else if (file.Close() != 0) {
    failure = "Cannot close file \"";
  }
  if (failure) {
    const int errnum = errno;
    file.Close();
    ::unlink(temporary.c_str());
    Fail(failure + temporary + "\"", errnum);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int errnum = errno;
    ::unlink(temporary.c_str());
    Fail("Cannot rename \"" + temporary + "\" to \"" + path + "\"", errnum);
  }
  SyncDirectory(DirectoryOf(path));
}

void TAtomicFile::Replace(const std::string& path, const std::string& data, mode_t mode) {
  Replace(path, data.data(), data.size(), mode);
}

bool TAtomicFile::Remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return false;
  SyncDirectory(DirectoryOf(path));
  return true;
}
