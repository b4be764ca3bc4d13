#include "platform/TToiApplicationObserverCaller.h"

#include "platform/TApplicationObserverProtocol.h"

TToiApplicationObserverCaller::TToiApplicationObserverCaller(TIpcClient* client,
                                                             const std::string& address)
    : TIpcCaller(client, address) {}

void TToiApplicationObserverCaller::OnStateChanged(const TApplicationStateInfoList& infos) {
  Invoke<TApplicationObserverProtocol, TApplicationObserverProtocol::kOnStateChanged>(infos);
}
