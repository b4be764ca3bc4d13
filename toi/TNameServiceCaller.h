// Calls the platform's name service. Throws TRemoteException for what the service refuses and
// TException when it cannot be reached.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IToiNameService.h"

class TNameServiceCaller final : public TIpcCaller {
 public:
  TNameServiceCaller(TIpcClient* client, const std::string& address);

  // Register and look up served objects by name; LookupObject fills in the address.
  void RegisterObject(const std::string& name, const std::string& address);
  void LookupObject(const std::string& name, std::string& address);
};
