#include "toi/TPlatformServiceDispatcher.h"

TPlatformServiceDispatcher::TPlatformServiceDispatcher(TIpcServer& server,
                                                       const std::string& address,
                                                       IToiPlatformService& impl)
    : TIpcProtocolDispatcher<TPlatformServiceProtocol>(server, address, impl) {}
