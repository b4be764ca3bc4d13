#include "toi/TToiInformationServiceDispatcher.h"

TToiInformationServiceDispatcher::TToiInformationServiceDispatcher(IIpcServer& server,
                                                                   const std::string& address,
                                                                   IToiInformationService& impl)
    : TIpcProtocolDispatcher<TInformationServiceProtocol>(server, address, impl) {}
