#include "toi/TToiInformationObserverDispatcher.h"

TToiInformationObserverDispatcher::TToiInformationObserverDispatcher(IIpcServer& server,
                                                                     const std::string& address,
                                                                     IToiInformationObserver& impl)
    : TIpcProtocolDispatcher<TInformationObserverProtocol>(server, address, impl) {}
