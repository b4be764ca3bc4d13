// The application service's side of an observer: reports instance state changes. One-way; a
// failed delivery throws TException.
#pragma once

#include <string>

#include "ipc/TIpcCaller.h"
#include "toi/IToiApplicationObserver.h"

class TToiApplicationObserverCaller final : public TIpcCaller, public IToiApplicationObserver {
 public:
  TToiApplicationObserverCaller(TIpcClient* client, const std::string& address);

  // IToiApplicationObserver
  void OnStateChanged(const TApplicationStateInfoList& infos) override;
};
