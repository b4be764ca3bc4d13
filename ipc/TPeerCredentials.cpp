#include "ipc/TPeerCredentials.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace {

// A process has at most NGROUPS_MAX (65536) supplementary groups; boxes have a handful. The
// kernel tells the size it needs, so one retry with that size is enough.
constexpr size_t kInitialGroups = 32;
constexpr size_t kMaxGroups = 65536;

bool ReadPeerGroups(int descriptor, std::vector<gid_t>& groups) {
#ifdef SO_PEERGROUPS
  groups.resize(kInitialGroups);
  for (int attempt = 0; attempt < 2; ++attempt) {
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (getsockopt(descriptor, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
      groups.resize(length / sizeof(gid_t));
      return true;
    }
    if (errno != ERANGE || length / sizeof(gid_t) > kMaxGroups) break;
    groups.resize(length / sizeof(gid_t));
  }
  groups.clear();
#else
  (void)descriptor;
  (void)groups;
  errno = ENOPROTOOPT;
#endif
  return false;
}

// The group database's view of the user: only for kernels that do not record the groups.
void ReadDatabaseGroups(uid_t uid, gid_t gid, std::vector<gid_t>& groups) {
  groups.clear();
  const passwd* user = getpwuid(uid);
  if (!user) return;
  int count = static_cast<int>(kInitialGroups);
  groups.resize(kInitialGroups);
  if (getgrouplist(user->pw_name, gid, groups.data(), &count) < 0) {
    if (count <= 0 || static_cast<size_t>(count) > kMaxGroups) count = 0;
    groups.resize(static_cast<size_t>(count));
    if (count == 0 || getgrouplist(user->pw_name, gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<size_t>(count));
}

}  // namespace

bool TPeerCredentials::HasGroup(gid_t group) const {
  return group == gid || std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool ReadPeerCredentials(int descriptor, TPeerCredentials& credentials) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
  credentials.pid = peer.pid;
  credentials.uid = peer.uid;
  credentials.gid = peer.gid;
  if (!ReadPeerGroups(descriptor, credentials.groups)) {
    if (errno != ENOPROTOOPT) return false;
    ReadDatabaseGroups(peer.uid, peer.gid, credentials.groups);
  }
  return true;
}
