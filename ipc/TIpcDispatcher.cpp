#include "ipc/TIpcDispatcher.h"

#include "ipc/IIpcServer.h"

TIpcDispatcher::TIpcDispatcher(IIpcServer& server, const std::string& address)
    : server_(server), address_(address), objectId_(server.AddDispatcher(address, this)) {}

TIpcDispatcher::~TIpcDispatcher() { server_.RemoveDispatcher(objectId_, this); }
