#include "adapters/TDefaultAdapter.h"

#include <cstdlib>

#include "platform/TFileMapper.h"
#include "platform/TGeneralXmlParser.h"
#include "platform/TXmlElement.h"
#include "service/TException.h"
#include "service/TInformationService.h"

namespace {

// The user-interface language is also kept as the three-letter code the platform reads.
const char kUiLocaleName[] = "cfg.locale.ui";
const char kUiLanguageName[] = "config.uilanguage";

}  // namespace

TDefaultAdapter::TDefaultAdapter(const std::string& fileName, TInformationService* service)
    : fileName_(fileName), service_(service) {}

TDefaultAdapter::~TDefaultAdapter() = default;

void TDefaultAdapter::InitializeObjects() {
  if (fileName_.empty()) return;
  try {
    Load();
  } catch (const TException& exception) {
    tracker_->Fatal("TDefaultAdapter: %s", exception.GetText());
    std::abort();
  } catch (...) {
    tracker_->Fatal("TDefaultAdapter: Unknown exception");
    std::abort();
  }
}

void TDefaultAdapter::Load() {
  TGeneralXmlParser parser;
  {
    TFileMapper mapper(fileName_.c_str());
    parser.Parse(mapper.GetData(), static_cast<int>(mapper.GetLength()));
  }
  const TXmlElement& root = parser.GetRootElement();
  if (root.GetName() != "Objects") {
    throw TException("Unknown root element in default adapter file.");
  }
  for (const TXmlElement& object : root.GetChildren()) {
    std::string name;
    std::string value;
    if (object.GetName() != "Object" || !object.GetStringValue("Name", name) ||
        !object.GetStringValue("Value", value)) {
      throw TException("Unknown element in default adapter file.");
    }
    if (name == kUiLocaleName) objects_[kUiLanguageName] = TInformationService::Convert(value);
    objects_[name] = value;
  }
}
