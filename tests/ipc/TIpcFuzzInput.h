// One fuzz input for the IPC decoding path, for the libFuzzer target (tests/fuzz, run by
// scripts/fuzz.sh with the sanitizers): the bytes are fed to a frame decoder in pieces whose sizes
// come from the input itself, and every frame's payload is decoded as the arguments of the
// operation it names, exactly as the server would. Any TException is the expected refusal; a crash,
// a sanitizer report or an allocation beyond the frame limit is a fault.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/TException.h"
#include "ipc/TIpcFrameDecoder.h"
#include "ipc/TIpcMarshal.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceProtocol.h"
#include "toi/TNullInformationService.h"

// Answers reads with their own arguments so that replies are encoded too.
class TFuzzedInformationService final : public TNullInformationService {
 public:
  void GetObject(const std::string& name, std::string& value) override { value = name; }
  void GetObjects(const TStringList& names, TStringList& values) override { values = names; }
};

// Returns the number of frames that decoded completely, arguments included.
inline int ConsumeIpcInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TIpcFrameDecoder decoder;
  TFuzzedInformationService service;
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
