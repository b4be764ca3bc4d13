// Serves the information service at an address of the server while it exists: what the
// daemon builds for its service object. The implementation is not owned.
#pragma once

#include <string>

#include "toi/TToiInformationServiceDispatcher.h"

class TInformationServiceDispatcher final : public TToiInformationServiceDispatcher {
 public:
  TInformationServiceDispatcher(IIpcServer& server, const std::string& address,
                                IToiInformationService& impl);
};
