#include "toi/TApplicationServiceCaller.h"

#include "toi/TApplicationServiceProtocol.h"

TApplicationServiceCaller::TApplicationServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TApplicationServiceCaller::RegisterService(const std::string& observerAddress) {
  Invoke<TApplicationServiceProtocol, &IToiApplicationService::RegisterService>(observerAddress);
}

void TApplicationServiceCaller::StartInstance(int instanceId) {
  Invoke<TApplicationServiceProtocol, &IToiApplicationService::StartInstance>(instanceId);
}

void TApplicationServiceCaller::ReleaseInstance(int instanceId) {
  Invoke<TApplicationServiceProtocol, &IToiApplicationService::ReleaseInstance>(instanceId);
}
