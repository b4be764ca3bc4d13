#include "toi/TNameServiceDispatcher.h"

TNameServiceDispatcher::TNameServiceDispatcher(IIpcServer& server, const std::string& address,
                                               IToiNameService& impl)
    : TIpcProtocolDispatcher<TNameServiceProtocol>(server, address, impl) {}
