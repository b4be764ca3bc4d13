// The operations of IToiPlatformService on the wire, listed once (TIpcOperations): an operation's
// number is its position in the list plus one. Append new operations at the end; never reorder, or
// old peers call the wrong operation. Calls are answered.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IToiPlatformService.h"

struct TPlatformServiceProtocol final {
  using TInterface = IToiPlatformService;
  static constexpr bool kOneWay = false;
  using TOperations = TIpcOperations<&TInterface::RegisterComponent, &TInterface::ReportPing,
                                     &TInterface::UnloadDone>;
};
