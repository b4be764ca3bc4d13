// Opens a file that a client named with that client's rights, not the daemon's. The daemon
// runs as root on a box, so opening a client's path with its own rights would let every
// application read and truncate every file of the box through it.
//
// How, by who the daemon and the caller are:
//   - no caller (a request from inside the process), root, or the daemon's own user: the
//     daemon's own rights, as always;
//   - daemon running as root, any other caller: the filesystem identity (fsuid, fsgid and the
//     supplementary groups) is switched to the caller's around the open(2) alone and switched
//     back before anything else runs. setfsuid/setfsgid change nothing but the file access
//     checks, the daemon is single-threaded, and the switch costs four system calls, where a
//     child process per open would cost a fork of the daemon and a descriptor passed back
//     over a socket. The open is non-blocking, so the switched identity cannot be held while
//     the loop waits. A switch that fails refuses the open (errno EACCES); a switch back that
//     fails is a broken process, not bad input, and ends it (Fatal trace, abort): going on
//     would serve later requests with a client's identity;
//   - daemon not running as root, any other caller: it cannot take the caller's identity, and
//     checking the caller's access beside its own open would be open to races (the path can
//     change between check and open, and truncation would already have happened), so the
//     open is refused (EACCES).
// A refused open fails like any other: the callers answer 207 "Failed to open file '...'.".
#pragma once

#include <string>

#include "ipc/TPeerCredentials.h"
#include "os/TUniqueFd.h"

// open(path, flags) with the caller's rights (see above); the result is invalid with errno
// set when the open fails or is refused. caller may be nullptr.
TUniqueFd OpenAsCaller(const TPeerCredentials* caller, const std::string& path, int flags);
