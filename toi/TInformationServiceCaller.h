// The client-side proxy of the information service: every operation of the served interface,
// called on the service object at an address. Failures the service reports arrive as
// TRemoteException with the service's code and text ("error 201: Unknown object"); an
// unreachable or silent service gives TException. Results replace the contents of the result
// parameters.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IToiInformationService.h"

class TInformationServiceCaller final : public TIpcCaller, public IToiInformationService {
 public:
  TInformationServiceCaller(TIpcClient* client, const std::string& address);

  // IToiInformationService
  void GetObject(const std::string& name, std::string& value) override;
  void GetObjects(const TStringList& names, TStringList& values) override;
  void GetObjectToFile(const std::string& name, const std::string& fileName) override;
  void SetObject(const std::string& name, const std::string& value,
                 TStorageType storageType) override;
  void SetObjects(const TStringList& names, const TStringList& values,
                  const std::vector<TStorageType>& storageTypes) override;
  void SetObjectFromFile(const std::string& name, const std::string& fileName,
                         TStorageType storageType) override;
  void UnsetObject(const std::string& name, TStorageType storageType) override;
  void UnsetObjects(const TStringList& names,
                    const std::vector<TStorageType>& storageTypes) override;
  void SubscribeObject(const std::string& expression, int id, const std::string& address) override;
  void SubscribeObject2(const std::string& expression, int id, const std::string& address,
                        bool enumerate) override;
  void SubscribeObjects(const TStringList& expressions, int id,
                        const std::string& address) override;
  void SubscribeObjects2(const TStringList& expressions, int id, const std::string& address,
                         bool enumerate) override;
  void UnsubscribeObject(const std::string& expression, const std::string& address) override;
  void UnsubscribeObjects(const TStringList& expressions, const std::string& address) override;
  void UnsubscribeAllObjects(const std::string& address) override;
  void SubscribeObjectInternal(const std::string& expression, const std::string& address) override;
  void SubscribeObject2Internal(const std::string& expression, const std::string& address,
                                bool enumerate) override;
  void SubscribeObjectsInternal(const TStringList& expressions,
                                const std::string& address) override;
  void SubscribeObjects2Internal(const TStringList& expressions, const std::string& address,
                                 bool enumerate) override;
  void GetObject2(const std::string& name, std::string& value, bool& cacheable) override;
};
