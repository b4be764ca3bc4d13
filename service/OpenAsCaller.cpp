#include "service/OpenAsCaller.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/TTracker.h"

namespace {

// setfsuid and setfsgid report no error; they return the previous value, and asking with an
// invalid id (-1) changes nothing and returns the current one.
uid_t CurrentFsUid() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }
gid_t CurrentFsGid() { return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))); }

// The daemon's filesystem identity, taken before the switch and put back by the destructor,
// also when the switch was only half done.
class TFsIdentityScope final {
 public:
  TFsIdentityScope() : uid_(geteuid()), gid_(getegid()) {
    const int count = getgroups(0, nullptr);
    if (count > 0) {
      groups_.resize(static_cast<size_t>(count));
      const int got = getgroups(count, groups_.data());
      groups_.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
  }
  ~TFsIdentityScope() { Restore(); }
  TFsIdentityScope(const TFsIdentityScope&) = delete;
  TFsIdentityScope& operator=(const TFsIdentityScope&) = delete;

  // Groups first (changing them needs CAP_SETGID, which the fsuid switch leaves alone), then
  // the fsgid, then the fsuid, which drops the filesystem capabilities of root.
  bool SwitchTo(const TPeerCredentials& caller) {
    switched_ = true;
    if (setgroups(caller.groups.size(), caller.groups.data()) != 0) return false;
    setfsgid(caller.gid);
    if (CurrentFsGid() != caller.gid) return false;
    setfsuid(caller.uid);
    return CurrentFsUid() == caller.uid;
  }

 private:
  void Restore() {
    if (!switched_) return;
    setfsuid(uid_);
    setfsgid(gid_);
    const bool restored = CurrentFsUid() == uid_ && CurrentFsGid() == gid_ &&
                          setgroups(groups_.size(), groups_.data()) == 0;
    if (!restored) {
      TTracker::GetProcessTracker()->Fatal(
          "OpenAsCaller: cannot restore the daemon's file identity (uid %u, gid %u)",
          static_cast<unsigned>(uid_), static_cast<unsigned>(gid_));
      std::abort();
    }
  }

  uid_t uid_;
  gid_t gid_;
  std::vector<gid_t> groups_;
  bool switched_ = false;
};

}  // namespace

TUniqueFd OpenAsCaller(const TPeerCredentials* caller, const std::string& path, int flags) {
  const uid_t self = geteuid();
  if (!caller || caller->uid == 0 || caller->uid == self) {
    return TUniqueFd(::open(path.c_str(), flags));
  }
  if (self != 0) {
    errno = EACCES;
    return TUniqueFd();
  }
  TFsIdentityScope scope;
  if (!scope.SwitchTo(*caller)) {
    errno = EACCES;
    return TUniqueFd();
  }
  // Non-blocking whatever the caller asked: the loop must not wait in open(2) (a FIFO without
  // its other end) while the daemon wears a client's identity.
  return TUniqueFd(::open(path.c_str(), flags | O_NONBLOCK));
}
