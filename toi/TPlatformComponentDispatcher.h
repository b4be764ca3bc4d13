// Serves a component's life-cycle interface (one-way calls of the platform service) at an
// address of the server while it exists. The implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IPlatformComponent.h"
#include "toi/TPlatformComponentProtocol.h"

class TPlatformComponentDispatcher final
    : public TIpcProtocolDispatcher<TPlatformComponentProtocol> {
 public:
  TPlatformComponentDispatcher(IIpcServer& server, const std::string& address,
                               IPlatformComponent& impl);
};
