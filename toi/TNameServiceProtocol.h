// The operations of IToiNameService on the wire, listed once (TIpcOperations): an operation's
// number is its position in the list plus one. Append new operations at the end; never reorder, or
// old peers call the wrong operation. Calls are answered.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IToiNameService.h"

struct TNameServiceProtocol final {
  using TInterface = IToiNameService;
  static constexpr bool kOneWay = false;
  using TOperations = TIpcOperations<&TInterface::RegisterObject, &TInterface::LookupObject>;
};
