#include "adapters/TDefaultAdapter.h"

#include "base/TException.h"
#include "translation/LanguageCodes.h"
#include "translation/ObjectListFile.h"
#include "xml/TXmlElement.h"

TDefaultAdapter::TDefaultAdapter(const std::string& fileName) : fileName_(fileName) {}

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
      // The platform's copy of the language comes with the default language.
      if (const char* copy = LanguageCopyOf(name)) objects_[copy] = ConvertLanguageCode(value);
      objects_[name] = value;
    });
  });
}
