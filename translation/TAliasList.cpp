#include "translation/TAliasList.h"

#include <utility>

#include "base/TException.h"
#include "translation/ObjectListFile.h"

TAliasList::TAliasList(std::string path)
    : tracker_(TTracker::GetProcessTracker()), path_(std::move(path)) {
  Initilize();
}

void TAliasList::Initilize() {
  entries_.clear();
  if (path_.empty()) {
    tracker_->Warning("TAliasList::Initialize() no alias available.");
    return;
  }
  // A broken alias file would leave names half redirected: writes would land under other
  // names than reads. Stopping at start-up is the only safe answer.
  LoadOrAbort(tracker_, "TAliasList", [this] {
    ReadObjectListFile(path_, [this](const TXmlElement& object) {
      std::string name;
      std::string alias;
      if (!object.GetStringValue("Name", name) || !object.GetStringValue("Alias", alias)) {
        throw TException(kUnknownObjectListElement);
      }
      // A multimap inserts after the entries with an equal key, which keeps the file order.
      entries_.emplace(std::move(name), std::move(alias));
    });
  });
}

bool TAliasList::HasAlias(const std::string& name) const { return entries_.count(name) > 0; }

bool TAliasList::HasMultipleAliases(const std::string& name) const {
  return entries_.count(name) > 1;
}

bool TAliasList::IsAlias(const std::string& alias) const {
  for (const auto& entry : entries_) {
    if (entry.second == alias) return true;
  }
  return false;
}

bool TAliasList::IsMultipleAlias(const std::string& alias) const {
  int matches = 0;
  for (const auto& entry : entries_) {
    if (entry.second == alias && ++matches == 2) return true;
  }
  return false;
}

TStringList TAliasList::Translate(const std::string& name) const {
  auto range = entries_.equal_range(name);
  if (range.first == range.second) return TStringList{name};
  TStringList aliases;
  for (auto it = range.first; it != range.second; ++it) aliases.push_back(it->second);
  return aliases;
}

TStringList TAliasList::Retranslate(const std::string& alias) const {
  TStringList names;
  for (const auto& entry : entries_) {
    if (entry.second == alias) names.push_back(entry.first);
  }
  if (names.empty()) names.push_back(alias);
  return names;
}
