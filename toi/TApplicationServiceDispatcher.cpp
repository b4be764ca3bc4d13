#include "toi/TApplicationServiceDispatcher.h"

TApplicationServiceDispatcher::TApplicationServiceDispatcher(IIpcServer& server,
                                                             const std::string& address,
                                                             IToiApplicationService& impl)
    : TIpcProtocolDispatcher<TApplicationServiceProtocol>(server, address, impl) {}
