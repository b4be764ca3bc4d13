// The operations of IPlatformComponent on the wire, listed once (TIpcOperations): an operation's
// number is its position in the list plus one. Append new operations at the end; never reorder, or
// old peers call the wrong operation. One-way: the component answers through its own reports to the
// platform service.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IPlatformComponent.h"

struct TPlatformComponentProtocol final {
  using TInterface = IPlatformComponent;
  static constexpr bool kOneWay = true;
  using TOperations = TIpcOperations<&TInterface::OnLoad, &TInterface::OnUnload,
                                     &TInterface::OnStandbyChanged, &TInterface::Ping>;
};
