// Serves a subscriber's observer (one-way notifications of the information service) at an
// address of the server while it exists: what tools and tests that subscribe build. The
// implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiInformationObserver.h"
#include "toi/TInformationObserverProtocol.h"

class TToiInformationObserverDispatcher final
    : public TIpcProtocolDispatcher<TInformationObserverProtocol> {
 public:
  TToiInformationObserverDispatcher(IIpcServer& server, const std::string& address,
                                    IToiInformationObserver& impl);
};
