// Calls the application service: registration of an observer and the confirmations of
// instance starts and releases. Throws TRemoteException and TException as every caller.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IToiApplicationService.h"

class TApplicationServiceCaller final : public TIpcCaller {
 public:
  TApplicationServiceCaller(TIpcClient* client, const std::string& address);

  void RegisterService(const std::string& observerAddress);
  void StartInstance(int instanceId);
  void ReleaseInstance(int instanceId);
};
