#include "daemon/ServeService.h"

#include "base/TTracker.h"
#include "daemon/AddressFile.h"
#include "ipc/TIpcServer.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TPlatformComponentDispatcher.h"
#include "toi/TToiApplicationObserverDispatcher.h"

void ServeService(TInformationService& service, TPlatformRegistration& platform, bool standalone,
                  const std::string& addressFile) {
  TIpcServer& server = service.GetServer();
  const std::string serviceAddress = server.CreateObject();
  TInformationServiceDispatcher serviceDispatcher(server, serviceAddress, service);
  TTracker::GetProcessTracker()->Trace("Information Service address: %s", serviceAddress.c_str());
  if (!addressFile.empty()) WriteAddressFile(addressFile, serviceAddress);

  const std::string componentAddress = server.CreateObject();
  TPlatformComponentDispatcher componentDispatcher(server, componentAddress, platform);
  const std::string observerAddress = server.CreateObject();
  TToiApplicationObserverDispatcher observerDispatcher(server, observerAddress, platform);

  if (!standalone) platform.Register(serviceAddress, componentAddress, observerAddress);
  service.Run();
}
