// The operation table of IToiInformationService on the wire (see TIpcMarshal): operation number =
// index + 1. Append new operations at the end; never reorder, or old peers call the wrong
// operation. Calls are answered: the client waits for results or the error.
#pragma once

#include <cstddef>
#include <tuple>

#include "toi/IToiInformationService.h"

struct TInformationServiceProtocol final {
  using TInterface = IToiInformationService;
  static constexpr bool kOneWay = false;
  enum TOperation : size_t {
    kGetObject,
    kGetObjects,
    kGetObjectToFile,
    kSetObject,
    kSetObjects,
    kSetObjectFromFile,
    kUnsetObject,
    kUnsetObjects,
    kSubscribeObject,
    kSubscribeObject2,
    kSubscribeObjects,
    kSubscribeObjects2,
    kUnsubscribeObject,
    kUnsubscribeObjects,
    kUnsubscribeAllObjects,
    kSubscribeObjectInternal,
    kSubscribeObject2Internal,
    kSubscribeObjectsInternal,
    kSubscribeObjects2Internal
  };
  static constexpr auto kOperations = std::make_tuple(
      &TInterface::GetObject, &TInterface::GetObjects, &TInterface::GetObjectToFile,
      &TInterface::SetObject, &TInterface::SetObjects, &TInterface::SetObjectFromFile,
      &TInterface::UnsetObject, &TInterface::UnsetObjects, &TInterface::SubscribeObject,
      &TInterface::SubscribeObject2, &TInterface::SubscribeObjects, &TInterface::SubscribeObjects2,
      &TInterface::UnsubscribeObject, &TInterface::UnsubscribeObjects,
      &TInterface::UnsubscribeAllObjects, &TInterface::SubscribeObjectInternal,
      &TInterface::SubscribeObject2Internal, &TInterface::SubscribeObjectsInternal,
      &TInterface::SubscribeObjects2Internal);
};
