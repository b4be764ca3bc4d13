// Reading the small text files the kernel publishes under /proc (production parameters, user
// parameters): a file is read whole into a caller's fixed buffer, or not at all. Stateless;
// used on the loop thread during start-up.
#pragma once

#include "os/TUniqueFd.h"

class TProcFile {
 public:
  // Reads the open descriptor to its end into buffer and terminates the content with a zero
  // byte. False on a read error (EINTR is retried a bounded number of times) and when the
  // content fills `size` bytes or more, since the terminator would not fit: a value is never
  // cut. An empty file gives true and an empty string. Reads never write past buffer[size-1].
  bool ReadFile(int fd, char* buffer, unsigned int size) const;
  // Closes once. close(2) is not retried after EINTR: Linux has released the descriptor by
  // then, and a second close could hit a descriptor opened meanwhile.
  void CloseFile(TUniqueFd& file) const;

 protected:
  TProcFile() = default;
  ~TProcFile() = default;
};
