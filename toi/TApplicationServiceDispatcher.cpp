#include "toi/TApplicationServiceDispatcher.h"

TApplicationServiceDispatcher::TApplicationServiceDispatcher(TIpcServer& server,
                                                             const std::string& address,
                                                             IToiApplicationService& impl)
    : TIpcProtocolDispatcher<TApplicationServiceProtocol>(server, address, impl) {}
