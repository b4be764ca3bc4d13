// Serves a name service (the platform simulator's) at an address of the server while it exists.
// The implementation is not owned.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiNameService.h"
#include "toi/TNameServiceProtocol.h"

class TNameServiceDispatcher final : public TIpcProtocolDispatcher<TNameServiceProtocol> {
 public:
  TNameServiceDispatcher(IIpcServer& server, const std::string& address, IToiNameService& impl);
};
