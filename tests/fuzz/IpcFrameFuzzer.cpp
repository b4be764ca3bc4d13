// libFuzzer target for the IPC frame decoder and argument decoding (-DINFOSERVICE_FUZZ=ON, clang).
#include "tests/ipc/TIpcFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ConsumeIpcInput(data, size);
  return 0;
}
