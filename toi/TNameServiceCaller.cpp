#include "toi/TNameServiceCaller.h"

#include "toi/TNameServiceProtocol.h"

TNameServiceCaller::TNameServiceCaller(TIpcClient* client, const std::string& address)
    : TIpcCaller(client, address) {}

void TNameServiceCaller::RegisterObject(const std::string& name, const std::string& address) {
  Invoke<TNameServiceProtocol, &IToiNameService::RegisterObject>(name, address);
}

void TNameServiceCaller::LookupObject(const std::string& name, std::string& address) {
  Invoke<TNameServiceProtocol, &IToiNameService::LookupObject>(name, address);
}
