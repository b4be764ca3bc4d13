#include "daemon/ServeService.h"

#include "base/TTracker.h"
#include "daemon/AddressFile.h"

TServedObjects ServeService(TInformationService& service, TPlatformRegistration& platform,
                            IIpcServer& server, bool standalone, const std::string& addressFile) {
  TServedObjects served;
  const std::string serviceAddress = server.CreateObject();
  served.service =
      std::make_unique<TInformationServiceDispatcher>(server, serviceAddress, service);
  TTracker::GetProcessTracker()->Trace("Information Service address: %s", serviceAddress.c_str());
  if (!addressFile.empty()) WriteAddressFile(addressFile, serviceAddress);

  const std::string componentAddress = server.CreateObject();
  served.component =
      std::make_unique<TPlatformComponentDispatcher>(server, componentAddress, platform);
  const std::string observerAddress = server.CreateObject();
  served.observer =
      std::make_unique<TToiApplicationObserverDispatcher>(server, observerAddress, platform);

  if (!standalone) platform.Register(serviceAddress, componentAddress, observerAddress);
  service.Start();
  return served;
}
