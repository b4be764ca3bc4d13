// Replaces whole files so that a crash, a power cut or a full disk never leaves a truncated
// one behind: every file the daemon keeps for itself (the settings file and its backup, the
// one-per-object files) is written through here. Stateless; safe on the loop thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

class TAtomicFile final {
 public:
  // Makes path hold exactly the given bytes, or leaves it as it was. A symbolic link at path
  // is followed, and the file it points to is the one replaced (the link stays). The bytes go
  // to a temporary file in that file's directory (named "." + the file name + ".tmp", so that
  // it never carries an object prefix), which is synced and renamed over the file; then the
  // directory is synced. A new file gets mode & ~umask; an existing regular file keeps its
  // permission bits. Throws TVerboseException (code: the errno) naming the path and the
  // reason when the file cannot be created, written, synced or renamed; the temporary file
  // is removed then and path is untouched. A failed sync of the directory, after the rename,
  // is only traced as a warning: the new content is in place.
  static void Replace(const std::string& path, const char* data, size_t length, mode_t mode);
  static void Replace(const std::string& path, const std::string& data, mode_t mode);

  // Unlinks path and syncs its directory, so that a removal is not undone by a power cut.
  // Returns false (errno set) when the unlink fails; a missing file is such a failure.
  static bool Remove(const std::string& path);

  // The directory part of a path, "." when it has none: "/a/b" -> "/a", "b" -> ".".
  static std::string DirectoryOf(const std::string& path);
};
