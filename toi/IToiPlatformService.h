// The platform service: components register with it and answer its life-cycle calls
// (IPlatformComponent) through these reports.
#pragma once

#include <string>

class IToiPlatformService {
 public:
  virtual ~IToiPlatformService() = default;
  virtual void RegisterComponent(int serviceId, const std::string& componentAddress) = 0;
  virtual void ReportPing(int serviceId) = 0;
  virtual void UnloadDone(int serviceId) = 0;

 protected:
  IToiPlatformService() = default;
  IToiPlatformService(const IToiPlatformService&) = delete;
  IToiPlatformService& operator=(const IToiPlatformService&) = delete;
};
