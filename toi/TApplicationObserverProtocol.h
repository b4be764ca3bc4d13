// The operations of IToiApplicationObserver on the wire, listed once (TIpcOperations): an
// operation's number is its position in the list plus one. Append new operations at the end; never
// reorder, or old peers call the wrong operation. One-way: the observer answers through its own
// calls to the application service.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IToiApplicationObserver.h"
#include "toi/ToiIpcCodecs.h"

struct TApplicationObserverProtocol final {
  using TInterface = IToiApplicationObserver;
  static constexpr bool kOneWay = true;
  using TOperations = TIpcOperations<&TInterface::OnStateChanged>;
};
