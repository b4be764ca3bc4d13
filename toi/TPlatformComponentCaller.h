// The platform side of a component: life-cycle calls on a registered component. One-way: the
// component answers through the platform service; a failed delivery throws TException.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IPlatformComponent.h"

class TPlatformComponentCaller final : public TIpcCaller, public IPlatformComponent {
 public:
  TPlatformComponentCaller(TIpcClient* client, const std::string& address);

  // IPlatformComponent
  void OnLoad() override;
  void OnUnload(bool flag) override;
  void OnStandbyChanged() override;
  void Ping() override;
};
