// Serves a subscriber's observer (one-way notifications of the information service) at an
// address of the server while it exists: what tools and tests that subscribe build. The
// implementation is not owned.
#pragma once

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/TInformationObserverProtocol.h"

// The protocol's table does the work; the name is only an alias.
using TToiInformationObserverDispatcher = TIpcProtocolDispatcher<TInformationObserverProtocol>;
