#include "toi/TToiApplicationObserverDispatcher.h"

TToiApplicationObserverDispatcher::TToiApplicationObserverDispatcher(IIpcServer& server,
                                                                     const std::string& address,
                                                                     IToiApplicationObserver& impl)
    : TIpcProtocolDispatcher<TApplicationObserverProtocol>(server, address, impl) {}
