// Calls the platform service: registration of a component and its answers to the life-cycle
// calls. Throws TRemoteException for what the service refuses and TException when it cannot
// be reached.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IToiPlatformService.h"

class TPlatformServiceCaller final : public TIpcCaller {
 public:
  TPlatformServiceCaller(TIpcClient* client, const std::string& address);

  void RegisterComponent(int serviceId, const std::string& componentAddress);
  void ReportPing(int serviceId);
  void UnloadDone(int serviceId);
};
