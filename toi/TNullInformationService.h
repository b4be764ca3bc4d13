// An information service that ignores every call: reads leave their results as they are and
// writes and subscriptions change nothing. Programs that serve the interface only to measure
// or exercise the runtime derive from it and override just the operations they answer.
#pragma once

#include "toi/IToiInformationService.h"

class TNullInformationService : public IToiInformationService {
 public:
  void GetObject(const std::string&, std::string&) override {}
  void GetObjects(const TStringList&, TStringList&) override {}
  void GetObjectToFile(const std::string&, const std::string&) override {}
  void SetObject(const std::string&, const std::string&, TStorageType) override {}
  void SetObjects(const TStringList&, const TStringList&,
                  const std::vector<TStorageType>&) override {}
  void SetObjectFromFile(const std::string&, const std::string&, TStorageType) override {}
  void UnsetObject(const std::string&, TStorageType) override {}
  void UnsetObjects(const TStringList&, const std::vector<TStorageType>&) override {}
  void SubscribeObject(const std::string&, int, const std::string&) override {}
  void SubscribeObject2(const std::string&, int, const std::string&, bool) override {}
  void SubscribeObjects(const TStringList&, int, const std::string&) override {}
  void SubscribeObjects2(const TStringList&, int, const std::string&, bool) override {}
  void UnsubscribeObject(const std::string&, const std::string&) override {}
  void UnsubscribeObjects(const TStringList&, const std::string&) override {}
  void UnsubscribeAllObjects(const std::string&) override {}
  void SubscribeObjectInternal(const std::string&, const std::string&) override {}
  void SubscribeObject2Internal(const std::string&, const std::string&, bool) override {}
  void SubscribeObjectsInternal(const TStringList&, const std::string&) override {}
  void SubscribeObjects2Internal(const TStringList&, const std::string&, bool) override {}
  void GetObject2(const std::string&, std::string&, bool&) override {}
};
