// The operation table of IToiInformationObserver on the wire (see TIpcMarshal): operation number =
// index + 1. Append new operations at the end; never reorder, or old peers call the wrong
// operation. One-way: the daemon never waits for a subscriber.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiInformationObserver.h"

struct TInformationObserverProtocol final {
  using TInterface = IToiInformationObserver;
  static constexpr bool kOneWay = true;
  enum TOperation : size_t { kOnObjectsChanged, kOnObjectsRemoved };
  static constexpr auto kOperations =
      std::make_tuple(&TInterface::OnObjectsChanged, &TInterface::OnObjectsRemoved);
};
