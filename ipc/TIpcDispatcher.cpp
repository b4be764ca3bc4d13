#include "ipc/TIpcDispatcher.h"

#include "ipc/TIpcServer.h"
#include "ipc/TIpcServerImpl.h"

TIpcDispatcher::TIpcDispatcher(TIpcServer& server, const std::string& address)
    : server_(server),
      address_(address),
      objectId_(server.GetImpl().AddDispatcher(address, this)) {}

TIpcDispatcher::~TIpcDispatcher() { server_.GetImpl().RemoveDispatcher(objectId_, this); }
