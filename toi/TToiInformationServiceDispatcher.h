// Serves the information-service interface at an address of the server: the platform-level
// dispatcher, which the service's own TInformationServiceDispatcher refines.
#pragma once

#include <string>

#include "ipc/TIpcProtocolDispatcher.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceProtocol.h"

class TToiInformationServiceDispatcher
    : public TIpcProtocolDispatcher<TInformationServiceProtocol> {
 public:
  TToiInformationServiceDispatcher(IIpcServer& server, const std::string& address,
                                   IToiInformationService& impl);
};
