// The one helper that writes a whole buffer to a descriptor. Every file, pipe or socket
// written outside the IPC runtime's framing goes through here, so that a short write is
// continued and an interruption retried in one place, never cut silently.
#pragma once

#include <cstddef>

// Writes all `length` bytes of `data`. Returns true when every byte was written; false with
// errno set otherwise (ENOSPC when the descriptor took nothing). A short write is continued,
// EINTR retried a bounded number of times. On a non-blocking descriptor a full pipe or socket
// (EAGAIN) is a failure, not a wait: the caller's thread is never held by a slow reader. On a
// blocking descriptor the call waits as write(2) does, so descriptors that a client or a
// peer controls must be opened non-blocking. The caller must ignore SIGPIPE: a reader that
// has gone is then reported as EPIPE instead of ending the process.
bool WriteAll(int descriptor, const void* data, size_t length);
