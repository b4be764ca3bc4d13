// How the platform interfaces' own types travel in an IPC payload (docs/ipc.md): the
// specialisations of TIpcCodec for them. Included by the protocols that use the types, so
// their callers and dispatchers find the codecs wherever they marshal.
//
//   TStorageType            4 bytes, two's complement: 0 permanent, 1 volatile, anything else
//                           passes the wire (refusing it is the service's decision)
//   TApplicationStateInfo   instance id (4 bytes), state (4 bytes)
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipc/TIpcCodec.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"
#include "toi/IToiApplicationObserver.h"
#include "toi/IToiInformationService.h"

template <>
struct TIpcCodec<IToiInformationService::TStorageType> {
  static constexpr size_t kMinimumSize = 4;
  static void Encode(TIpcWriter& writer, IToiInformationService::TStorageType value) {
    writer.Put(static_cast<int32_t>(value));
  }
  static void Decode(TIpcReader& reader, IToiInformationService::TStorageType& value) {
    int32_t number = 0;
    reader.Get(number);
    value = static_cast<IToiInformationService::TStorageType>(number);
  }
};

template <>
struct TIpcCodec<IToiApplicationObserver::TApplicationStateInfo> {
  static constexpr size_t kMinimumSize = 8;
  static void Encode(TIpcWriter& writer,
                     const IToiApplicationObserver::TApplicationStateInfo& value) {
    writer.Put(static_cast<int32_t>(value.instanceId));
    writer.Put(static_cast<int32_t>(value.state));
  }
  static void Decode(TIpcReader& reader, IToiApplicationObserver::TApplicationStateInfo& value) {
    int32_t id = 0;
    int32_t state = 0;
    reader.Get(id);
    reader.Get(state);
    value.instanceId = id;
    value.state = state;
  }
};
