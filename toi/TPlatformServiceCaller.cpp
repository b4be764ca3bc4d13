#include "toi/TPlatformServiceCaller.h"

#include "toi/TPlatformServiceProtocol.h"

TPlatformServiceCaller::TPlatformServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TPlatformServiceCaller::RegisterComponent(int serviceId, const std::string& componentAddress) {
  Invoke<TPlatformServiceProtocol, &IToiPlatformService::RegisterComponent>(serviceId,
                                                                            componentAddress);
}

void TPlatformServiceCaller::ReportPing(int serviceId) {
  Invoke<TPlatformServiceProtocol, &IToiPlatformService::ReportPing>(serviceId);
}

void TPlatformServiceCaller::UnloadDone(int serviceId) {
  Invoke<TPlatformServiceProtocol, &IToiPlatformService::UnloadDone>(serviceId);
}
