// Serves an application service (the platform simulator's) at an address of the server while
// it exists. The implementation is not owned.
#pragma once

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/TApplicationServiceProtocol.h"

// The protocol's table does the work; the name is only an alias.
using TApplicationServiceDispatcher = TIpcProtocolDispatcher<TApplicationServiceProtocol>;
