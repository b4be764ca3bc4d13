// Calls a subscriber's observer object. Delivery is one-way with a bounded queue per peer, so
// a subscriber that stops reading or dies costs the caller no more than a short, bounded
// delay; a failed delivery throws TException.
#pragma once

#include <string>

#include "base/TStringList.h"

class TIpcClient;

class TToiInformationObserverCaller final {
 public:
  TToiInformationObserverCaller(TIpcClient* client, const std::string& address);

  void OnObjectsChanged(const TStringList& names);
  void OnObjectsRemoved(const TStringList& names);

 private:
  TIpcClient* client_;
  std::string address_;
};
