// The operation table of IToiApplicationObserver on the wire (see TIpcMarshal): operation number =
// index + 1. Append new operations at the end; never reorder, or old peers call the wrong
// operation. One-way: the observer answers through its own calls to the application service.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiApplicationObserver.h"

struct TApplicationObserverProtocol final {
  using TInterface = IToiApplicationObserver;
  static constexpr bool kOneWay = true;
  enum TOperation : size_t { kOnStateChanged };
  static constexpr auto kOperations = std::make_tuple(&TInterface::OnStateChanged);
};
