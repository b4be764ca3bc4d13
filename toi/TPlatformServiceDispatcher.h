// Serves a platform service (the platform simulator's) at an address of the server while it
// exists. The implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiPlatformService.h"
#include "toi/TPlatformServiceProtocol.h"

class TPlatformServiceDispatcher final : public TIpcProtocolDispatcher<TPlatformServiceProtocol> {
 public:
  TPlatformServiceDispatcher(IIpcServer& server, const std::string& address,
                             IToiPlatformService& impl);
};
