// The operation table of IToiApplicationService on the wire (see TIpcMarshal): operation number =
// index + 1. Append new operations at the end; never reorder, or old peers call the wrong
// operation. Calls are answered.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiApplicationService.h"

struct TApplicationServiceProtocol final {
  using TInterface = IToiApplicationService;
  static constexpr bool kOneWay = false;
  enum TOperation : size_t { kRegisterService, kStartInstance, kReleaseInstance };
  static constexpr auto kOperations = std::make_tuple(
      &TInterface::RegisterService, &TInterface::StartInstance, &TInterface::ReleaseInstance);
};
