#include "toi/TPlatformComponentDispatcher.h"

TPlatformComponentDispatcher::TPlatformComponentDispatcher(TIpcServer& server,
                                                           const std::string& address,
                                                           IPlatformComponent& impl)
    : TIpcProtocolDispatcher<TPlatformComponentProtocol>(server, address, impl) {}
