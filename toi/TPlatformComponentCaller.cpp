#include "toi/TPlatformComponentCaller.h"

#include "toi/TPlatformComponentProtocol.h"

TPlatformComponentCaller::TPlatformComponentCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TPlatformComponentCaller::OnLoad() {
  Invoke<TPlatformComponentProtocol, TPlatformComponentProtocol::kOnLoad>();
}

void TPlatformComponentCaller::OnUnload(bool flag) {
  Invoke<TPlatformComponentProtocol, TPlatformComponentProtocol::kOnUnload>(flag);
}

void TPlatformComponentCaller::OnStandbyChanged() {
  Invoke<TPlatformComponentProtocol, TPlatformComponentProtocol::kOnStandbyChanged>();
}

void TPlatformComponentCaller::Ping() {
  Invoke<TPlatformComponentProtocol, TPlatformComponentProtocol::kPing>();
}
