// The daemon's membership in the platform: it registers the information service with the
// platform's name service, platform service and application service, and answers the
// platform's life-cycle calls and the application state changes. It owns the platform and
// application service callers, which exist only after Register; standalone, Register is never
// called and nobody learns the addresses of the objects this class serves, so its calls do not
// arrive, and one that arrives anyway does only its local part. Runs on the loop thread.
#pragma once

#include <memory>
#include <string>

#include "base/TTracker.h"
#include "service/ISubscriptionList.h"
#include "service/TInformationService.h"
#include "toi/IPlatformComponent.h"
#include "toi/IToiApplicationObserver.h"

class TApplicationServiceCaller;
class TIpcClient;
class TPlatformServiceCaller;

class TPlatformRegistration final : public IPlatformComponent, public IToiApplicationObserver {
 public:
  // Application states reported through OnStateChanged that the daemon acts on.
  static constexpr int kStateStarted = 3;
  static constexpr int kStateEnded = 7;

  // Keeps the arguments, not owned; they must outlive the registration. Calls nobody.
  TPlatformRegistration(TIpcClient* client, ISubscriptionList& subscriptions,
                        TInformationService& service);
  ~TPlatformRegistration() override;

  // Reads the service id (SERVICE_ID, taken with atoi) and the name service's address
  // (NAMESERVICE_ADDRESS) from the environment; registers serviceAddress as
  // "InformationService", then componentAddress with the platform service and
  // observerAddress with the application service, both found through the name service.
  // Either variable missing: fatal trace "SERVICE_ID is not set", respectively
  // "NAMESERVICE_ADDRESS is not set", and abort. A lookup or a call that fails throws the
  // caller's TException; nothing is unregistered.
  void Register(const std::string& serviceAddress, const std::string& componentAddress,
                const std::string& observerAddress);

  // IPlatformComponent
  void OnLoad() override;
  // Reports UnloadDone; the daemon keeps running.
  void OnUnload(bool flag) override;
  void OnStandbyChanged() override;
  void Ping() override;

  // IToiApplicationObserver
  // A started instance is confirmed to the application service; an ended one loses its
  // subscriptions first (the adapters then re-consider what to fetch) and is released after.
  void OnStateChanged(const TApplicationStateInfoList& infos) override;

 private:
  TTracker* tracker_;
  TIpcClient* client_;
  ISubscriptionList& subscriptions_;
  TInformationService& service_;
  std::unique_ptr<TPlatformServiceCaller> platformService_;
  std::unique_ptr<TApplicationServiceCaller> applicationService_;
  int serviceId_ = 0;
};
