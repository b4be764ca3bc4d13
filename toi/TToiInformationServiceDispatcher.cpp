#include "toi/TToiInformationServiceDispatcher.h"

TToiInformationServiceDispatcher::TToiInformationServiceDispatcher(TIpcServer& server,
                                                                   const std::string& address,
                                                                   IToiInformationService& impl)
    : TIpcProtocolDispatcher<TInformationServiceProtocol>(server, address, impl) {}
