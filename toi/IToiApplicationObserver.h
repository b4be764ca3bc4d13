// State changes of application instances, reported by the application service to the
// observers registered with it.
#pragma once

#include <vector>

class IToiApplicationObserver {
 public:
  struct TApplicationStateInfo {
    int instanceId;
    int state;
  };
  using TApplicationStateInfoList = std::vector<TApplicationStateInfo>;

  virtual ~IToiApplicationObserver() = default;
  virtual void OnStateChanged(const TApplicationStateInfoList& infos) = 0;

 protected:
  IToiApplicationObserver() = default;
  IToiApplicationObserver(const IToiApplicationObserver&) = delete;
  IToiApplicationObserver& operator=(const IToiApplicationObserver&) = delete;
};
