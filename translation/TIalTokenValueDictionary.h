// The token value dictionary, loaded once from its XML file (root "Objects"; each "Object" is
// a token pair with "PlatformValue" and "CorvantelaValue", or a name entry with "Name"). A bad
// file ends the process after a fatal trace.
#pragma once

#include <map>
#include <string>

#include "base/TStringList.h"
#include "base/TTracker.h"
#include "translation/IIalTokenValueDictionary.h"

class TIalTokenValueDictionary final : public IIalTokenValueDictionary {
 public:
  explicit TIalTokenValueDictionary(std::string path);

  void Initilize();

  // IIalTokenValueDictionary
  std::string Translate(const std::string& value) const override;
  std::string Retranslate(const std::string& value) const override;
  bool ShouldTranslate(const std::string& name) const override;
  bool IsIalTokenValue(const std::string& value) const override;
  bool IsPlatformTokenValue(const std::string& value) const override;

 private:
  std::map<std::string, std::string> tokens_;
  TStringList names_;
  TTracker* tracker_;
  std::string path_;
};
