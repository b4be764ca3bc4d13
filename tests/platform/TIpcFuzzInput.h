// One fuzz input for the IPC decoding path, shared by the libFuzzer target (tests/fuzz) and the
// bounded random-frame test: the bytes are fed to a frame decoder in pieces whose sizes come
// from the input itself, and every frame's payload is decoded as the arguments of the operation
// it names, exactly as the server would. Any TException is the expected refusal; a crash, a
// sanitizer report or an allocation beyond the frame limit is a fault.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/IToiInformationService.h"
#include "platform/TInformationServiceProtocol.h"
#include "platform/TIpcFrameDecoder.h"
#include "platform/TIpcMarshal.h"
#include "platform/TIpcReader.h"
#include "platform/TIpcWriter.h"
#include "service/TException.h"

class TNullInformationService final : public IToiInformationService {
 public:
  void GetObject(const std::string& name, std::string& value) override { value = name; }
  void GetObjects(const TStringList& names, TStringList& values) override { values = names; }
  void GetObjectToFile(const std::string&, const std::string&) override {}
  void SetObject(const std::string&, const std::string&, TStorageType) override {}
  void SetObjects(const TStringList&, const TStringList&,
                  const std::vector<TStorageType>&) override {}
  void SetObjectFromFile(const std::string&, const std::string&, TStorageType) override {}
  void UnsetObject(const std::string&, TStorageType) override {}
  void UnsetObjects(const TStringList&, const std::vector<TStorageType>&) override {}
  void SubscribeObject(const std::string&, int, const std::string&) override {}
  void SubscribeObject2(const std::string&, int, const std::string&, bool) override {}
  void SubscribeObjects(const TStringList&, int, const std::string&) override {}
  void SubscribeObjects2(const TStringList&, int, const std::string&, bool) override {}
  void UnsubscribeObject(const std::string&, const std::string&) override {}
  void UnsubscribeObjects(const TStringList&, const std::string&) override {}
  void UnsubscribeAllObjects(const std::string&) override {}
  void SubscribeObjectInternal(const std::string&, const std::string&) override {}
  void SubscribeObject2Internal(const std::string&, const std::string&, bool) override {}
  void SubscribeObjectsInternal(const TStringList&, const std::string&) override {}
  void SubscribeObjects2Internal(const TStringList&, const std::string&, bool) override {}
};

// Returns the number of frames that decoded completely, arguments included.
inline int ConsumeIpcInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TIpcFrameDecoder decoder;
  TNullInformationService service;
  const size_t piece = 1 + data[0] % 64;
  int served = 0;
  try {
    for (size_t offset = 1; offset < size; offset += piece) {
      const size_t length = size - offset < piece ? size - offset : piece;
      decoder.Append(reinterpret_cast<const char*>(data) + offset, length);
      TIpcFrame frame;
      while (decoder.Next(frame)) {
        TIpcReader reader(frame.payload, frame.payloadSize);
        TIpcWriter writer;
        if (TIpcMarshal::Serve<TInformationServiceProtocol>(service, frame.operation, reader,
                                                            writer)) {
          ++served;
        }
      }
    }
  } catch (const TException&) {
  }
  return served;
}
