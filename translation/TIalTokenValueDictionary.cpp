#include "translation/TIalTokenValueDictionary.h"

#include <utility>

#include "base/TException.h"
#include "translation/ObjectListFile.h"

TIalTokenValueDictionary::TIalTokenValueDictionary(std::string path)
    : tracker_(TTracker::GetProcessTracker()), path_(std::move(path)) {
  Initilize();
}

void TIalTokenValueDictionary::Initilize() {
  tokens_.clear();
  names_.clear();
  if (path_.empty()) {
    tracker_->Warning("TIalTokenValueDictionary::Initialize() no dictionary file available.");
    return;
  }
  // Without its dictionary the daemon would store operator spellings where the platform
  // expects its own; it stops at start-up instead.
  LoadOrAbort(tracker_, "TIalTokenValueDictionary", [this] {
    ReadObjectListFile(path_, [this](const TXmlElement& object) {
      std::string platformValue;
      std::string operatorValue;
      std::string name;
      if (object.GetStringValue("PlatformValue", platformValue) &&
          object.GetStringValue("CorvantelaValue", operatorValue)) {
        // A later pair for the same operator token replaces the earlier one.
        tokens_[operatorValue] = platformValue;
      } else if (object.GetStringValue("Name", name)) {
        names_.push_back(std::move(name));
      } else {
        throw TException(kUnknownObjectListElement);
      }
    });
  });
}

std::string TIalTokenValueDictionary::Translate(const std::string& value) const {
  if (!IsIalTokenValue(value)) return value;
  return tokens_.find(value)->second;
}

std::string TIalTokenValueDictionary::Retranslate(const std::string& value) const {
  if (!IsPlatformTokenValue(value)) return value;
  // Several operator tokens may share a platform token; the first in operator-token order
  // answers, whatever the file order.
  for (const auto& token : tokens_) {
    if (token.second == value) return token.first;
  }
  return value;
}

bool TIalTokenValueDictionary::ShouldTranslate(const std::string& name) const {
  for (const std::string& listed : names_) {
    if (listed == name) return true;
  }
  return false;
}

bool TIalTokenValueDictionary::IsIalTokenValue(const std::string& value) const {
  auto found = tokens_.find(value);
  return found != tokens_.end() && !found->second.empty();
}

bool TIalTokenValueDictionary::IsPlatformTokenValue(const std::string& value) const {
  for (const auto& token : tokens_) {
    if (token.second == value) return true;
  }
  return false;
}
