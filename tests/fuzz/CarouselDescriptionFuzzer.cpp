// libFuzzer target for the head-end's description parser: byte 0 picks the mode, the rest is
// the description and every file it names.
#include <cstdint>
#include <string>

#include "base/TException.h"
#include "headend/TCarouselDescriptionParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  TCarouselDescriptionParser::TSettings settings;
  settings.mode = data[0] & 1 ? TCarouselDescriptionParser::TMode::kOpch
                              : TCarouselDescriptionParser::TMode::kNormal;
  try {
    TCarouselDescriptionParser(settings, [&](const std::string&, size_t limit) {
      return text.substr(0, limit);
    }).Parse("description");
  } catch (const TException&) {
  }
  return 0;
}
