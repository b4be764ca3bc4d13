// What a subscriber serves: the information service calls it when objects matching one of
// its subscriptions change or disappear, one name per call.
#pragma once

#include "base/TStringList.h"

class IToiInformationObserver {
 public:
  virtual ~IToiInformationObserver() = default;
  virtual void OnObjectsChanged(const TStringList& names) = 0;
  virtual void OnObjectsRemoved(const TStringList& names) = 0;

 protected:
  IToiInformationObserver() = default;
  IToiInformationObserver(const IToiInformationObserver&) = delete;
  IToiInformationObserver& operator=(const IToiInformationObserver&) = delete;
};
