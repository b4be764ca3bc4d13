#include "toi/TNameServiceDispatcher.h"

TNameServiceDispatcher::TNameServiceDispatcher(TIpcServer& server, const std::string& address,
                                               IToiNameService& impl)
    : TIpcProtocolDispatcher<TNameServiceProtocol>(server, address, impl) {}
