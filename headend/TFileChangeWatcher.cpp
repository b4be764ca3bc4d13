#include "headend/TFileChangeWatcher.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/TTracker.h"

namespace {

// Room for many events per read; a longer burst is read on the next readiness.
constexpr size_t kEventBufferBytes = 16 * 1024;
constexpr uint32_t kWatchMask =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MODIFY;

std::pair<std::string, std::string> Split(const std::string& path) {
  const std::filesystem::path full(path);
  std::string directory = full.parent_path().string();
  return {directory.empty() ? "." : directory, full.filename().string()};
}

}  // namespace

TFileChangeWatcher::TFileChangeWatcher(IIOEventLoop& loop, bool poll) : loop_(loop) {
  if (!poll) inotify_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (inotify_.IsValid()) {
    loop_.RegisterFileDescriptor(inotify_.Get(), IIOEventLoop::kReadable, 0, this);
  } else {
    if (!poll) {
      TTracker::GetProcessTracker()->Warning(
          "TFileChangeWatcher: no inotify (errno %d); looking at the files every %u ms", errno,
          kPollMs);
    }
    pollTimer_ = loop_.AddTimeout(kPollMs, this);
  }
}

TFileChangeWatcher::~TFileChangeWatcher() {
  if (inotify_.IsValid()) loop_.UnregisterFileDescriptor(inotify_.Get());
  if (pollTimer_ >= 0) loop_.RemoveTimeout(pollTimer_);
}

void TFileChangeWatcher::Watch(const std::vector<std::string>& files) {
  names_.clear();
  states_.clear();
  std::set<std::string> wanted;
  for (const std::string& file : files) {
    states_[file] = Look(file);
    const auto split = Split(file);
    names_.insert(split);
    wanted.insert(split.first);
  }
  if (!inotify_.IsValid()) return;
  // Directories that stay keep their watch: removing and adding it again would drop the
  // events queued in between, a change written while the description was being read.
  for (auto it = directories_.begin(); it != directories_.end();) {
    if (wanted.count(it->second)) {
      ++it;
      continue;
    }
    inotify_rm_watch(inotify_.Get(), it->first);
    it = directories_.erase(it);
  }
  for (const std::string& directory : wanted) {
    const int descriptor = inotify_add_watch(inotify_.Get(), directory.c_str(), kWatchMask);
    if (descriptor < 0) {
      TTracker::GetProcessTracker()->Warning("TFileChangeWatcher: cannot watch %s (errno %d)",
                                             directory.c_str(), errno);
      continue;
    }
    directories_[descriptor] = directory;
  }
}

bool TFileChangeWatcher::TakeChanged() {
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

void TFileChangeWatcher::HandleEvent(int, unsigned int) {
  alignas(inotify_event) char buffer[kEventBufferBytes];
  const ssize_t length = read(inotify_.Get(), buffer, sizeof buffer);
  if (length <= 0) return;
  for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
    offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    if (event->mask & IN_Q_OVERFLOW) {
      changed_ = true;
      continue;
    }
    auto directory = directories_.find(event->wd);
    if (directory == directories_.end() || event->len == 0 || offset > length) continue;
    if (names_.count({directory->second, std::string(event->name)})) changed_ = true;
  }
}

void TFileChangeWatcher::HandleTimeout(int) {
  for (auto& [file, state] : states_) {
    const TState now = Look(file);
    if (now != state) changed_ = true;
    state = now;
  }
}

TFileChangeWatcher::TState TFileChangeWatcher::Look(const std::string& path) {
  TState state;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return state;
  state.exists = true;
  state.inode = status.st_ino;
  state.size = status.st_size;
  state.modifiedNs =
      static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  return state;
}
