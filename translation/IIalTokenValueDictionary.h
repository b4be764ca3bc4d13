// Translation between operator token values and platform token values of the same setting.
// The adapters hold it without owning it; it never changes after loading.
#pragma once

#include <string>

class IIalTokenValueDictionary {
 public:
  // The platform token of an operator token; the value unchanged when it is none.
  virtual std::string Translate(const std::string& value) const = 0;
  // The first operator token (in operator-token order) of a platform token; else unchanged.
  virtual std::string Retranslate(const std::string& value) const = 0;
  // The object's values are to be translated.
  virtual bool ShouldTranslate(const std::string& name) const = 0;
  virtual bool IsIalTokenValue(const std::string& value) const = 0;
  virtual bool IsPlatformTokenValue(const std::string& value) const = 0;
  virtual ~IIalTokenValueDictionary() = default;

 protected:
  IIalTokenValueDictionary() = default;
  IIalTokenValueDictionary(const IIalTokenValueDictionary&) = delete;
  IIalTokenValueDictionary& operator=(const IIalTokenValueDictionary&) = delete;
};
