// An observer living in the daemon's own process: told about every change that the service
// passes on to its subscribers, before the subscribers are called. Runs on the loop thread,
// inside the adapter's report; it may read objects and start or remove adapters through the
// narrow interfaces it was built with.
#pragma once

#include <string>

class ILocalInformationMonitor {
 public:
  // The visible object of that name was set or removed.
  virtual void ObjectUpdate(const std::string& name) = 0;
  virtual ~ILocalInformationMonitor() = default;

 protected:
  ILocalInformationMonitor() = default;
  ILocalInformationMonitor(const ILocalInformationMonitor&) = delete;
  ILocalInformationMonitor& operator=(const ILocalInformationMonitor&) = delete;
};
