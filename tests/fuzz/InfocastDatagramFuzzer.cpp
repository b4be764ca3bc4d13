// libFuzzer target for the datagram engine of the receiving channels (-DINFOSERVICE_FUZZ=ON,
// clang): runs of arbitrary datagrams under both channels' rules.
#include <cstdlib>

#include "tests/infocast/InfocastDatagramFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (test::ConsumeInfocastDatagrams(data, size) > TInfocastDatagramEngine::kMaxObjectSize) {
    std::abort();
  }
  return 0;
}
