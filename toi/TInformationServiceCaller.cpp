#include "toi/TInformationServiceCaller.h"

#include "toi/TInformationServiceProtocol.h"

TInformationServiceCaller::TInformationServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TInformationServiceCaller::GetObject(const std::string& name, std::string& value) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::GetObject>(name, value);
}

void TInformationServiceCaller::GetObjects(const TStringList& names, TStringList& values) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::GetObjects>(names, values);
}

void TInformationServiceCaller::GetObjectToFile(const std::string& name,
                                                const std::string& fileName) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::GetObjectToFile>(name, fileName);
}

void TInformationServiceCaller::SetObject(const std::string& name, const std::string& value,
                                          TStorageType storageType) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SetObject>(name, value, storageType);
}

void TInformationServiceCaller::SetObjects(const TStringList& names, const TStringList& values,
                                           const std::vector<TStorageType>& storageTypes) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SetObjects>(names, values,
                                                                           storageTypes);
}

void TInformationServiceCaller::SetObjectFromFile(const std::string& name,
                                                  const std::string& fileName,
                                                  TStorageType storageType) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SetObjectFromFile>(name, fileName,
                                                                                  storageType);
}

void TInformationServiceCaller::UnsetObject(const std::string& name, TStorageType storageType) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::UnsetObject>(name, storageType);
}

void TInformationServiceCaller::UnsetObjects(const TStringList& names,
                                             const std::vector<TStorageType>& storageTypes) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::UnsetObjects>(names, storageTypes);
}

void TInformationServiceCaller::SubscribeObject(const std::string& expression, int id,
                                                const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObject>(expression, id,
                                                                                address);
}

void TInformationServiceCaller::SubscribeObject2(const std::string& expression, int id,
                                                 const std::string& address, bool enumerate) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObject2>(
      expression, id, address, enumerate);
}

void TInformationServiceCaller::SubscribeObjects(const TStringList& expressions, int id,
                                                 const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObjects>(expressions, id,
                                                                                 address);
}

void TInformationServiceCaller::SubscribeObjects2(const TStringList& expressions, int id,
                                                  const std::string& address, bool enumerate) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObjects2>(
      expressions, id, address, enumerate);
}

void TInformationServiceCaller::UnsubscribeObject(const std::string& expression,
                                                  const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::UnsubscribeObject>(expression,
                                                                                  address);
}

void TInformationServiceCaller::UnsubscribeObjects(const TStringList& expressions,
                                                   const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::UnsubscribeObjects>(expressions,
                                                                                   address);
}

void TInformationServiceCaller::UnsubscribeAllObjects(const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::UnsubscribeAllObjects>(address);
}

void TInformationServiceCaller::SubscribeObjectInternal(const std::string& expression,
                                                        const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObjectInternal>(expression,
                                                                                        address);
}

void TInformationServiceCaller::SubscribeObject2Internal(const std::string& expression,
                                                         const std::string& address,
                                                         bool enumerate) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObject2Internal>(
      expression, address, enumerate);
}

void TInformationServiceCaller::SubscribeObjectsInternal(const TStringList& expressions,
                                                         const std::string& address) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObjectsInternal>(
      expressions, address);
}

void TInformationServiceCaller::SubscribeObjects2Internal(const TStringList& expressions,
                                                          const std::string& address,
                                                          bool enumerate) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::SubscribeObjects2Internal>(
      expressions, address, enumerate);
}

void TInformationServiceCaller::GetObject2(const std::string& name, std::string& value,
                                           bool& cacheable) {
  Invoke<TInformationServiceProtocol, &IToiInformationService::GetObject2>(name, value, cacheable);
}
