// Serves an application observer (one-way state reports of the application service) at an
// address of the server while it exists. The implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiApplicationObserver.h"
#include "toi/TApplicationObserverProtocol.h"

class TToiApplicationObserverDispatcher final
    : public TIpcProtocolDispatcher<TApplicationObserverProtocol> {
 public:
  TToiApplicationObserverDispatcher(IIpcServer& server, const std::string& address,
                                    IToiApplicationObserver& impl);
};
