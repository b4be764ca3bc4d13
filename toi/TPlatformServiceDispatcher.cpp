#include "toi/TPlatformServiceDispatcher.h"

TPlatformServiceDispatcher::TPlatformServiceDispatcher(IIpcServer& server,
                                                       const std::string& address,
                                                       IToiPlatformService& impl)
    : TIpcProtocolDispatcher<TPlatformServiceProtocol>(server, address, impl) {}
