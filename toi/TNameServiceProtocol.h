// The operation table of IToiNameService on the wire (see TIpcMarshal): operation number = index
// + 1. Append new operations at the end; never reorder, or old peers call the wrong operation.
// Calls are answered.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiNameService.h"

struct TNameServiceProtocol final {
  using TInterface = IToiNameService;
  static constexpr bool kOneWay = false;
  enum TOperation : size_t { kRegisterObject, kLookupObject };
  static constexpr auto kOperations =
      std::make_tuple(&TInterface::RegisterObject, &TInterface::LookupObject);
};
