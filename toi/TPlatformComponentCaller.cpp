#include "toi/TPlatformComponentCaller.h"

#include "toi/TPlatformComponentProtocol.h"

TPlatformComponentCaller::TPlatformComponentCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TPlatformComponentCaller::OnLoad() {
  Invoke<TPlatformComponentProtocol, &IPlatformComponent::OnLoad>();
}

void TPlatformComponentCaller::OnUnload(bool flag) {
  Invoke<TPlatformComponentProtocol, &IPlatformComponent::OnUnload>(flag);
}

void TPlatformComponentCaller::OnStandbyChanged() {
  Invoke<TPlatformComponentProtocol, &IPlatformComponent::OnStandbyChanged>();
}

void TPlatformComponentCaller::Ping() {
  Invoke<TPlatformComponentProtocol, &IPlatformComponent::Ping>();
}
