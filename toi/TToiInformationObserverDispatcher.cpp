#include "toi/TToiInformationObserverDispatcher.h"

TToiInformationObserverDispatcher::TToiInformationObserverDispatcher(TIpcServer& server,
                                                                     const std::string& address,
                                                                     IToiInformationObserver& impl)
    : TIpcProtocolDispatcher<TInformationObserverProtocol>(server, address, impl) {}
