// Serves an application observer (one-way state reports of the application service) at an
// address of the server while it exists. The implementation is not owned.
#pragma once

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/TApplicationObserverProtocol.h"

// The protocol's table does the work; the name is only an alias.
using TToiApplicationObserverDispatcher = TIpcProtocolDispatcher<TApplicationObserverProtocol>;
