#include "toi/TInformationServiceCaller.h"

#include "toi/TInformationServiceProtocol.h"

TInformationServiceCaller::TInformationServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TInformationServiceCaller::GetObject(const std::string& name, std::string& value) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kGetObject>(name, value);
}

void TInformationServiceCaller::GetObjects(const TStringList& names, TStringList& values) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kGetObjects>(names, values);
}

void TInformationServiceCaller::GetObjectToFile(const std::string& name,
                                                const std::string& fileName) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kGetObjectToFile>(name,
                                                                                     fileName);
}

void TInformationServiceCaller::SetObject(const std::string& name, const std::string& value,
                                          TStorageType storageType) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSetObject>(name, value,
                                                                               storageType);
}

void TInformationServiceCaller::SetObjects(const TStringList& names, const TStringList& values,
                                           const std::vector<TStorageType>& storageTypes) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSetObjects>(names, values,
                                                                                storageTypes);
}

void TInformationServiceCaller::SetObjectFromFile(const std::string& name,
                                                  const std::string& fileName,
                                                  TStorageType storageType) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSetObjectFromFile>(
      name, fileName, storageType);
}

void TInformationServiceCaller::UnsetObject(const std::string& name, TStorageType storageType) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kUnsetObject>(name, storageType);
}

void TInformationServiceCaller::UnsetObjects(const TStringList& names,
                                             const std::vector<TStorageType>& storageTypes) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kUnsetObjects>(names,
                                                                                  storageTypes);
}

void TInformationServiceCaller::SubscribeObject(const std::string& expression, int id,
                                                const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObject>(expression, id,
                                                                                     address);
}

void TInformationServiceCaller::SubscribeObject2(const std::string& expression, int id,
                                                 const std::string& address, bool enumerate) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObject2>(
      expression, id, address, enumerate);
}

void TInformationServiceCaller::SubscribeObjects(const TStringList& expressions, int id,
                                                 const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObjects>(expressions,
                                                                                      id, address);
}

void TInformationServiceCaller::SubscribeObjects2(const TStringList& expressions, int id,
                                                  const std::string& address, bool enumerate) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObjects2>(
      expressions, id, address, enumerate);
}

void TInformationServiceCaller::UnsubscribeObject(const std::string& expression,
                                                  const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kUnsubscribeObject>(expression,
                                                                                       address);
}

void TInformationServiceCaller::UnsubscribeObjects(const TStringList& expressions,
                                                   const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kUnsubscribeObjects>(expressions,
                                                                                        address);
}

void TInformationServiceCaller::UnsubscribeAllObjects(const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kUnsubscribeAllObjects>(address);
}

void TInformationServiceCaller::SubscribeObjectInternal(const std::string& expression,
                                                        const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObjectInternal>(
      expression, address);
}

void TInformationServiceCaller::SubscribeObject2Internal(const std::string& expression,
                                                         const std::string& address,
                                                         bool enumerate) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObject2Internal>(
      expression, address, enumerate);
}

void TInformationServiceCaller::SubscribeObjectsInternal(const TStringList& expressions,
                                                         const std::string& address) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObjectsInternal>(
      expressions, address);
}

void TInformationServiceCaller::SubscribeObjects2Internal(const TStringList& expressions,
                                                          const std::string& address,
                                                          bool enumerate) {
  Invoke<TInformationServiceProtocol, TInformationServiceProtocol::kSubscribeObjects2Internal>(
      expressions, address, enumerate);
}
