// Serves the information-service interface at an address of the server: the platform-level
// dispatcher; TInformationServiceDispatcher names it too.
#pragma once

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/TInformationServiceProtocol.h"

// The protocol's table does the work; the name is only an alias.
using TToiInformationServiceDispatcher = TIpcProtocolDispatcher<TInformationServiceProtocol>;
