// Who is at the other end of an accepted connection, as the kernel recorded it when the peer
// connected: process id, user id, group id and supplementary groups. Nothing a client sends
// can change it. Plain value type.
//
// The supplementary groups come from SO_PEERGROUPS: the kernel's record of the connecting
// process's groups, taken at connect() together with the uid and gid. Both alternatives are
// worse for a trust decision:
//   - the Groups: line of /proc/PID/status is read later, not at connect time, and the pid may
//     by then belong to another process (the peer may have exited and the pid been reused);
//   - getgrouplist(uid) gives what the group database says about the user, not what the process
//     has: a process that dropped its supplementary groups (a sandboxed application) would get
//     them back in the daemon's eyes and could open through it files it cannot open itself.
// Only on a kernel without SO_PEERGROUPS (older than Linux 4.13) does ReadPeerCredentials fall
// back to getgrouplist: the group database then stands in for the process, which can only
// widen a process's rights back to those its user has anyway.
#pragma once

#include <sys/types.h>

#include <vector>

struct TPeerCredentials {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups; the primary gid may or may not be among them

  // The primary or one of the supplementary groups.
  bool HasGroup(gid_t group) const;
};

// The credentials of the peer of a connected Unix socket. False (errno set) when the kernel
// does not tell, which for an AF_UNIX stream socket it always does.
bool ReadPeerCredentials(int descriptor, TPeerCredentials& credentials);
