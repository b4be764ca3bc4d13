// libFuzzer target for the head-end's description parser: no description may crash it, and
// what it accepts stays within its bounds and is a plan the carousel can cut into datagrams.
// The first byte picks the mode; every file the description names reads as the rest of the
// input, so sub-directories recurse into the same text.
#include <cstddef>
#include <cstdint>
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
    const TCarouselPlan plan = parser.Parse("description");
    if (plan.channels.empty() || plan.channels.size() > TCarouselDescriptionParser::kMaxChannels) {
      std::abort();
    }
    for (const TCarouselChannel& channel : plan.channels) {
      if (channel.rateBitsPerSecond < settings.datagramSize * 8) std::abort();
      for (const TCarouselObject& object : channel.objects) {
        TInfocastPacketizer packetizer(object.type, object.precoding, object.name,
                                       settings.datagramSize);
        if (!object.targetFilter.empty()) packetizer.SetTargetFilter(object.targetFilter);
        packetizer.GetPacketCount(object.data.size());
      }
    }
  } catch (const TException&) {
  }
  return 0;
}
