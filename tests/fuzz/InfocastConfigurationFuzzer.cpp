// libFuzzer target for the Infocast configuration texts a head-end sends: no text may crash
// either syntax's parser, and what they make stays within the parser's bounds, every object
// on a channel of its own configuration. The input is parsed as XML, as an extended text,
// and as one extended entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "infocast/TInfocastConfigurationParser.h"

namespace {

class TSilentTracker final : public TTracker {
 public:
  TSilentTracker() : TTracker(6) {}

 protected:
  void Output(int, const char*, va_list) override {}
};

class TNoAliases final : public INameTranslator {
 public:
  bool HasAlias(const std::string&) const override { return false; }
  std::string Translate(const std::string& name) const override { return name; }
};

void Check(const TInfocastConfiguration& configuration) {
  if (configuration.objects.size() > TInfocastConfigurationParser::kMaxRecords) std::abort();
  if (configuration.channels.size() > TInfocastConfigurationParser::kMaxRecords) std::abort();
  for (const TInfocastObjectRecord& object : configuration.objects) {
    if (object.channel >= configuration.channels.size()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TSilentTracker tracker;
  static TNoAliases names;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TInfocastConfigurationParser parser(names, tracker);
  Check(parser.ParseXml(text));
  Check(parser.ParseExtended(text, "239.1.1.1", 5000));
  TInfocastExtendedEntry entry;
  parser.ParseExtendedEntry(text, entry);
  return 0;
}
