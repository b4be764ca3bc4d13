#include "toi/TToiApplicationObserverCaller.h"

#include "toi/TApplicationObserverProtocol.h"

TToiApplicationObserverCaller::TToiApplicationObserverCaller(TIpcClient* client,
                                                             const std::string& address)
    : TIpcCaller(client, address) {}

void TToiApplicationObserverCaller::OnStateChanged(const TApplicationStateInfoList& infos) {
  Invoke<TApplicationObserverProtocol, &IToiApplicationObserver::OnStateChanged>(infos);
}
