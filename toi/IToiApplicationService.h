// The application service: observers register with it and are told of instance state
// changes (IToiApplicationObserver); they confirm starts and releases through these calls.
#pragma once

#include <string>

class IToiApplicationService {
 public:
  virtual ~IToiApplicationService() = default;
  virtual void RegisterService(const std::string& observerAddress) = 0;
  virtual void StartInstance(int instanceId) = 0;
  virtual void ReleaseInstance(int instanceId) = 0;

 protected:
  IToiApplicationService() = default;
  IToiApplicationService(const IToiApplicationService&) = delete;
  IToiApplicationService& operator=(const IToiApplicationService&) = delete;
};
