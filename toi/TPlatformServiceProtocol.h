// The operation table of IToiPlatformService on the wire (see TIpcMarshal): operation number =
// index + 1. Append new operations at the end; never reorder, or old peers call the wrong
// operation. Calls are answered.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiPlatformService.h"

struct TPlatformServiceProtocol final {
  using TInterface = IToiPlatformService;
  static constexpr bool kOneWay = false;
  enum TOperation : size_t { kRegisterComponent, kReportPing, kUnloadDone };
  static constexpr auto kOperations = std::make_tuple(
      &TInterface::RegisterComponent, &TInterface::ReportPing, &TInterface::UnloadDone);
};
