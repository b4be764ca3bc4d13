// Serves an application service (the platform simulator's) at an address of the server while
// it exists. The implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiApplicationService.h"
#include "toi/TApplicationServiceProtocol.h"

class TApplicationServiceDispatcher final
    : public TIpcProtocolDispatcher<TApplicationServiceProtocol> {
 public:
  TApplicationServiceDispatcher(IIpcServer& server, const std::string& address,
                                IToiApplicationService& impl);
};
