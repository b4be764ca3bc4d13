// Serves the information-service interface at an address of the server: the platform-level
// dispatcher, which the service's own TInformationServiceDispatcher refines.
#pragma once

#include <string>

#include "platform/IToiInformationService.h"
#include "platform/TInformationServiceProtocol.h"
#include "platform/TIpcProtocolDispatcher.h"

class TToiInformationServiceDispatcher
    : public TIpcProtocolDispatcher<TInformationServiceProtocol> {
 public:
  TToiInformationServiceDispatcher(TIpcServer& server, const std::string& address,
                                   IToiInformationService& impl);
};
