#include "toi/TInformationServiceDispatcher.h"

TInformationServiceDispatcher::TInformationServiceDispatcher(TIpcServer& server,
                                                             const std::string& address,
                                                             IToiInformationService& impl)
    : TToiInformationServiceDispatcher(server, address, impl) {}
