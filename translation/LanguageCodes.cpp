#include "translation/LanguageCodes.h"

const TLanguageCode kLanguageCodes[] = {{"en-US", "eng"},  {"es-ES", "spa"}, {"sv-SE", "swe"},
                                        {"no-NO", "nor"},  {"fi-FI", "fin"}, {"da-DK", "dan"},
                                        {nullptr, nullptr}};

std::string ConvertLanguageCode(const std::string& value) {
  for (const TLanguageCode* code = kLanguageCodes; code->from; ++code) {
    if (value == code->from) return code->to;
  }
  return value;
}

const char* LanguageCopyOf(const std::string& name) {
  return name == kUiLocaleName ? kUiLanguageName : nullptr;
}
