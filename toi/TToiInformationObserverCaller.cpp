#include "toi/TToiInformationObserverCaller.h"

#include "ipc/TIpcCaller.h"
#include "toi/TInformationObserverProtocol.h"

TToiInformationObserverCaller::TToiInformationObserverCaller(TIpcClient* client,
                                                             const std::string& address)
    : client_(client), address_(address) {}

void TToiInformationObserverCaller::OnObjectsChanged(const TStringList& names) {
  TIpcCaller::InvokeOn<TInformationObserverProtocol, &IToiInformationObserver::OnObjectsChanged>(
      client_, address_, names);
}

void TToiInformationObserverCaller::OnObjectsRemoved(const TStringList& names) {
  TIpcCaller::InvokeOn<TInformationObserverProtocol, &IToiInformationObserver::OnObjectsRemoved>(
      client_, address_, names);
}
