// The operations of IToiInformationObserver on the wire, listed once (TIpcOperations): an
// operation's number is its position in the list plus one. Append new operations at the end; never
// reorder, or old peers call the wrong operation. One-way: the daemon never waits for a subscriber.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IToiInformationObserver.h"

struct TInformationObserverProtocol final {
  using TInterface = IToiInformationObserver;
  static constexpr bool kOneWay = true;
  using TOperations = TIpcOperations<&TInterface::OnObjectsChanged, &TInterface::OnObjectsRemoved>;
};
