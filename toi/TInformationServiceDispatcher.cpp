#include "toi/TInformationServiceDispatcher.h"

TInformationServiceDispatcher::TInformationServiceDispatcher(IIpcServer& server,
                                                             const std::string& address,
                                                             IToiInformationService& impl)
    : TToiInformationServiceDispatcher(server, address, impl) {}
