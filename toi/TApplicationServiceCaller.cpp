#include "toi/TApplicationServiceCaller.h"

#include "toi/TApplicationServiceProtocol.h"

TApplicationServiceCaller::TApplicationServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TApplicationServiceCaller::RegisterService(const std::string& observerAddress) {
  Invoke<TApplicationServiceProtocol, TApplicationServiceProtocol::kRegisterService>(
      observerAddress);
}

void TApplicationServiceCaller::StartInstance(int instanceId) {
  Invoke<TApplicationServiceProtocol, TApplicationServiceProtocol::kStartInstance>(instanceId);
}

void TApplicationServiceCaller::ReleaseInstance(int instanceId) {
  Invoke<TApplicationServiceProtocol, TApplicationServiceProtocol::kReleaseInstance>(instanceId);
}
