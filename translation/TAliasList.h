// Names served under other names. Loaded once from the alias file (root "Objects", one
// "Object" per entry with "Name" and "Alias" children); a name may have several aliases, kept
// in file order. A bad file ends the process after a fatal trace: the daemon must not run
// with half its names redirected. Lookups are exact and case-sensitive.
#pragma once

#include <map>
#include <string>

#include "base/TStringList.h"
#include "base/TTracker.h"

class TAliasList final {
 public:
  explicit TAliasList(std::string path);

  void Initilize();
  bool HasAlias(const std::string& name) const;
  bool HasMultipleAliases(const std::string& name) const;
  bool IsAlias(const std::string& alias) const;
  bool IsMultipleAlias(const std::string& alias) const;
  // The aliases of name in file order; the name itself when it has none.
  TStringList Translate(const std::string& name) const;
  // The names whose alias is alias, in name order; the alias itself when it is none.
  TStringList Retranslate(const std::string& alias) const;

 private:
  std::multimap<std::string, std::string> entries_;
  TTracker* tracker_;
  std::string path_;
};
