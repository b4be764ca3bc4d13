#include "toi/TPlatformComponentDispatcher.h"

TPlatformComponentDispatcher::TPlatformComponentDispatcher(IIpcServer& server,
                                                           const std::string& address,
                                                           IPlatformComponent& impl)
    : TIpcProtocolDispatcher<TPlatformComponentProtocol>(server, address, impl) {}
