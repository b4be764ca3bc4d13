#include "daemon/TPlatformRegistration.h"

#include <cstdlib>

#include "toi/TApplicationServiceCaller.h"
#include "toi/TNameServiceCaller.h"
#include "toi/TPlatformServiceCaller.h"

TPlatformRegistration::TPlatformRegistration(TIpcClient* client, ISubscriptionList& subscriptions,
                                             TInformationService& service)
    : tracker_(TTracker::GetProcessTracker()),
      client_(client),
      subscriptions_(subscriptions),
      service_(service) {}

TPlatformRegistration::~TPlatformRegistration() = default;

// Without its service id or the name service the daemon cannot take part in the platform at
// all, and running half-registered would hide the fault, so it stops at once.
void TPlatformRegistration::Register(const std::string& serviceAddress,
                                     const std::string& componentAddress,
                                     const std::string& observerAddress) {
  const char* serviceId = std::getenv("SERVICE_ID");
  if (!serviceId) {
    tracker_->Fatal("SERVICE_ID is not set");
    std::abort();
  }
  serviceId_ = std::atoi(serviceId);
  const char* nameServiceAddress = std::getenv("NAMESERVICE_ADDRESS");
  if (!nameServiceAddress) {
    tracker_->Fatal("NAMESERVICE_ADDRESS is not set");
    std::abort();
  }

  TNameServiceCaller nameService(client_, nameServiceAddress);
  nameService.RegisterObject("InformationService", serviceAddress);

  std::string platformServiceAddress;
  nameService.LookupObject("PlatformService", platformServiceAddress);
  platformService_ = std::make_unique<TPlatformServiceCaller>(client_, platformServiceAddress);
  platformService_->RegisterComponent(serviceId_, componentAddress);

  std::string applicationServiceAddress;
  nameService.LookupObject("ApplicationService", applicationServiceAddress);
  applicationService_ =
      std::make_unique<TApplicationServiceCaller>(client_, applicationServiceAddress);
  applicationService_->RegisterService(observerAddress);
}

void TPlatformRegistration::OnLoad() {}

void TPlatformRegistration::OnUnload(bool) {
  if (platformService_) platformService_->UnloadDone(serviceId_);
}

void TPlatformRegistration::OnStandbyChanged() {}

void TPlatformRegistration::Ping() {
  if (platformService_) platformService_->ReportPing(serviceId_);
}

void TPlatformRegistration::OnStateChanged(const TApplicationStateInfoList& infos) {
  for (const TApplicationStateInfo& info : infos) {
    if (info.state == kStateStarted) {
      if (applicationService_) applicationService_->StartInstance(info.instanceId);
    } else if (info.state == kStateEnded) {
      subscriptions_.RemoveAll(info.instanceId);
      service_.FetchObjects();
      if (applicationService_) applicationService_->ReleaseInstance(info.instanceId);
    }
  }
}
