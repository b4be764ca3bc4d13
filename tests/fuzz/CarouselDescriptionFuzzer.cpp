// libFuzzer target for the head-end's description parser: nothing crashes it, what it accepts
// can be sent. Byte 0 picks the mode; every file named reads as the rest of the input.
#include <cstdlib>
#include <string>

#include "base/TException.h"
#include "headend/TCarouselDescriptionParser.h"
#include "infocast/TInfocastPacketizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  TCarouselDescriptionParser::TSettings settings;
  settings.mode = data[0] & 1 ? TCarouselDescriptionParser::TMode::kOpch
                              : TCarouselDescriptionParser::TMode::kNormal;
  TCarouselDescriptionParser parser(settings, [&](const std::string& path, size_t limit) {
    if (path.find("missing") != std::string::npos) throw TException("cannot open " + path);
    return text.substr(0, limit);
  });
  try {
    for (const TCarouselChannel& channel : parser.Parse("description").channels) {
      if (channel.rateBitsPerSecond < settings.datagramSize * 8) std::abort();
      for (const TCarouselObject& object : channel.objects) {
        TInfocastPacketizer(object.type, object.precoding, object.name, settings.datagramSize)
            .GetPacketCount(object.data.size());
      }
    }
  } catch (const TException&) {
  }
  return 0;
}
