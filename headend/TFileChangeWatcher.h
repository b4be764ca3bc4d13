// Notices that any of a set of files changed: written, replaced (an editor's or a script's
// rename over it), created or removed. Uses inotify on the files' directories, so that a file
// replaced by rename is seen too; where inotify is unavailable (or when asked), it compares
// each file's inode, size and modification time once a second. It only raises a flag; the
// owner decides when to act on it. Owns its inotify descriptor; runs on the loop thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "os/IIOEventHandler.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"
#include "os/TUniqueFd.h"

class TFileChangeWatcher final : public IIOEventHandler, public IIOTimeoutHandler {
 public:
  static constexpr unsigned int kPollMs = 1000;

  TFileChangeWatcher(IIOEventLoop& loop, bool poll);
  ~TFileChangeWatcher() override;

  // Replaces the watched set; the current state of the files is the reference from now on.
  void Watch(const std::vector<std::string>& files);
  // True once after any watched file changed.
  bool TakeChanged();
  bool IsPolling() const { return !inotify_.IsValid(); }

  // IIOEventHandler: inotify events.
  void HandleEvent(int descriptor, unsigned int events) override;
  // IIOTimeoutHandler: the poll.
  void HandleTimeout(int identifier) override;

 private:
  struct TState {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    int64_t modifiedNs = 0;
    bool operator!=(const TState& other) const {
      return exists != other.exists || inode != other.inode || size != other.size ||
             modifiedNs != other.modifiedNs;
    }
  };
  static TState Look(const std::string& path);

  IIOEventLoop& loop_;
  TUniqueFd inotify_;
  int pollTimer_ = -1;
  bool changed_ = false;
  std::map<int, std::string> directories_;               // watch descriptor -> directory
  std::set<std::pair<std::string, std::string>> names_;  // (directory, file name)
  std::map<std::string, TState> states_;
};
