// The information-service interface as the platform serves it: every operation a client can
// call over the IPC. Names and values are byte strings; lists are ordered. Operations throw
// TDispatchableException (codes 201, 202, 207) for failures the client should see; the IPC
// runtime carries code and text back to the caller.
#pragma once

#include <cstdint>
#include <string>

#include "base/TStringList.h"

class IToiInformationService {
 public:
  // Where a write is meant to go. Values other than these two arrive from clients and are
  // refused by the service.
  enum TStorageType : int32_t { ePermanent = 0, eVolatile = 1 };

  virtual ~IToiInformationService() = default;

  virtual void GetObject(const std::string& name, std::string& value) = 0;
  virtual void GetObjects(const TStringList& names, TStringList& values) = 0;
  virtual void GetObjectToFile(const std::string& name, const std::string& fileName) = 0;
  virtual void SetObject(const std::string& name, const std::string& value,
                         TStorageType storageType) = 0;
  virtual void SetObjects(const TStringList& names, const TStringList& values,
                          const std::vector<TStorageType>& storageTypes) = 0;
  virtual void SetObjectFromFile(const std::string& name, const std::string& fileName,
                                 TStorageType storageType) = 0;
  virtual void UnsetObject(const std::string& name, TStorageType storageType) = 0;
  virtual void UnsetObjects(const TStringList& names,
                            const std::vector<TStorageType>& storageTypes) = 0;
  virtual void SubscribeObject(const std::string& expression, int id,
                               const std::string& address) = 0;
  virtual void SubscribeObject2(const std::string& expression, int id, const std::string& address,
                                bool enumerate) = 0;
  virtual void SubscribeObjects(const TStringList& expressions, int id,
                                const std::string& address) = 0;
  virtual void SubscribeObjects2(const TStringList& expressions, int id, const std::string& address,
                                 bool enumerate) = 0;
  virtual void UnsubscribeObject(const std::string& expression, const std::string& address) = 0;
  virtual void UnsubscribeObjects(const TStringList& expressions, const std::string& address) = 0;
  virtual void UnsubscribeAllObjects(const std::string& address) = 0;
  virtual void SubscribeObjectInternal(const std::string& expression,
                                       const std::string& address) = 0;
  virtual void SubscribeObject2Internal(const std::string& expression, const std::string& address,
                                        bool enumerate) = 0;
  virtual void SubscribeObjectsInternal(const TStringList& expressions,
                                        const std::string& address) = 0;
  virtual void SubscribeObjects2Internal(const TStringList& expressions, const std::string& address,
                                         bool enumerate) = 0;
  // GetObject, and whether a copy of the value may be kept until a change notification says
  // otherwise: false for objects whose value is computed on every read (the time, the free
  // memory), which change without notifying anyone. Client caches read through it.
  virtual void GetObject2(const std::string& name, std::string& value, bool& cacheable) = 0;

 protected:
  IToiInformationService() = default;
  IToiInformationService(const IToiInformationService&) = delete;
  IToiInformationService& operator=(const IToiInformationService&) = delete;
};
