// Serves a component's life-cycle interface (one-way calls of the platform service) at an
// address of the server while it exists. The implementation is not owned.
#pragma once

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/TPlatformComponentProtocol.h"

// The protocol's table does the work; the name is only an alias.
using TPlatformComponentDispatcher = TIpcProtocolDispatcher<TPlatformComponentProtocol>;
