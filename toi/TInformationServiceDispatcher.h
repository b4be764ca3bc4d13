// Serves the information service at an address of the server while it exists: what the
// daemon builds for its service object. The implementation is not owned.
#pragma once

#include "toi/TToiInformationServiceDispatcher.h"

using TInformationServiceDispatcher = TToiInformationServiceDispatcher;
