// The operation table of IPlatformComponent on the wire (see TIpcMarshal): operation number = index
// + 1. Append new operations at the end; never reorder, or old peers call the wrong operation.
// One-way: the component answers through its own reports to the platform service.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IPlatformComponent.h"

struct TPlatformComponentProtocol final {
  using TInterface = IPlatformComponent;
  static constexpr bool kOneWay = true;
  enum TOperation : size_t { kOnLoad, kOnUnload, kOnStandbyChanged, kPing };
  static constexpr auto kOperations = std::make_tuple(
      &TInterface::OnLoad, &TInterface::OnUnload, &TInterface::OnStandbyChanged, &TInterface::Ping);
};
