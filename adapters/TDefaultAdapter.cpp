#include "adapters/TDefaultAdapter.h"

#include "base/TException.h"
#include "service/TInformationService.h"
#include "translation/ObjectListFile.h"
#include "xml/TXmlElement.h"

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
  LoadOrAbort(tracker_, "TDefaultAdapter", [this] {
    ReadObjectListFile(fileName_, [this](const TXmlElement& object) {
      std::string name;
      std::string value;
      if (!object.GetStringValue("Name", name) || !object.GetStringValue("Value", value)) {
        throw TException(kUnknownObjectListElement);
      }
      if (name == kUiLocaleName) objects_[kUiLanguageName] = TInformationService::Convert(value);
      objects_[name] = value;
    });
  });
}
