#include "toi/TToiApplicationObserverDispatcher.h"

TToiApplicationObserverDispatcher::TToiApplicationObserverDispatcher(TIpcServer& server,
                                                                     const std::string& address,
                                                                     IToiApplicationObserver& impl)
    : TIpcProtocolDispatcher<TApplicationObserverProtocol>(server, address, impl) {}
