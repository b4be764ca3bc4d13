// Maps a name that a file or a client uses onto the name the daemon keeps the object under.
// Adapters that load stored names (settings written under a name that has since become an
// alias) hold one of these without owning it; the information service implements it over its
// alias list. Calls run on the loop thread and never call back into the caller.
#pragma once

#include <string>

class INameTranslator {
 public:
  // Whether the name is kept under another name (or several).
  virtual bool HasAlias(const std::string& name) const = 0;
  // The name the object is kept under: the first alias, or the name itself when it has none.
  // Never throws.
  virtual std::string Translate(const std::string& name) const = 0;
  virtual ~INameTranslator() = default;

 protected:
  INameTranslator() = default;
  INameTranslator(const INameTranslator&) = delete;
  INameTranslator& operator=(const INameTranslator&) = delete;
};
