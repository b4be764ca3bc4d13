// The daemon's adapter list. The order is the routing priority: reads see the first holder of
// a name and writes go to the first adapter that takes the storage type and the name, so the
// dedicated storages come before the general settings file and the defaults come last.
#pragma once

#include "daemon/TCommandLine.h"
#include "os/IIOEventLoop.h"
#include "service/TInformationService.h"
#include "translation/TIalTokenValueDictionary.h"

// Creates every adapter from the options and appends it to the service, which owns it. The
// adapters keep the service (as name translator) and the dictionary without owning them, and
// run on the given loop. Traces the Infocast reception mode ("Using opch mode." or
// "Using normal mode.") where that adapter takes its place. Reads no file yet: the adapters
// load when the service initialises them.
void AddAdapters(TInformationService& service, const TCommandLine& options,
                 TIalTokenValueDictionary& dictionary, IIOEventLoop* loop);
