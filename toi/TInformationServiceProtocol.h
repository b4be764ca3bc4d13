// The operations of IToiInformationService on the wire, listed once (TIpcOperations): an
// operation's number is its position in the list plus one. Append new operations at the end; never
// reorder, or old peers call the wrong operation. Calls are answered: the client waits for results
// or the error.
#pragma once

#include "ipc/TIpcOperations.h"
#include "toi/IToiInformationService.h"
#include "toi/ToiIpcCodecs.h"

struct TInformationServiceProtocol final {
  using TInterface = IToiInformationService;
  static constexpr bool kOneWay = false;
  using TOperations =
      TIpcOperations<&TInterface::GetObject, &TInterface::GetObjects, &TInterface::GetObjectToFile,
                     &TInterface::SetObject, &TInterface::SetObjects,
                     &TInterface::SetObjectFromFile, &TInterface::UnsetObject,
                     &TInterface::UnsetObjects, &TInterface::SubscribeObject,
                     &TInterface::SubscribeObject2, &TInterface::SubscribeObjects,
                     &TInterface::SubscribeObjects2, &TInterface::UnsubscribeObject,
                     &TInterface::UnsubscribeObjects, &TInterface::UnsubscribeAllObjects,
                     &TInterface::SubscribeObjectInternal, &TInterface::SubscribeObject2Internal,
                     &TInterface::SubscribeObjectsInternal, &TInterface::SubscribeObjects2Internal,
                     &TInterface::GetObject2>;
};
