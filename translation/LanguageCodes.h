// The user-interface language is kept twice: as a language tag ("sv-SE") under the name the
// clients use, and as a three-letter code ("swe") under the name the platform's own
// components read. Every place that keeps the two copies in step (client writes, the
// defaults, objects received from the network) takes the names and the conversion from here,
// so that the copies cannot drift apart by a spelling.
#pragma once

#include <string>

// The client's copy, a language tag.
inline constexpr char kUiLocaleName[] = "cfg.locale.ui";
// The platform's copy, a three-letter code.
inline constexpr char kUiLanguageName[] = "config.uilanguage";

// One row of the language-code table: a language tag and its three-letter code.
struct TLanguageCode {
  const char* from;
  const char* to;
};

// The table ConvertLanguageCode walks, in order; it ends with a row whose "from" is null.
extern const TLanguageCode kLanguageCodes[];

// The three-letter code of a language tag, matched exactly and case-sensitively
// ("sv-SE" -> "swe"); a value not in the table comes back unchanged ("sv-se", "xx-YY").
std::string ConvertLanguageCode(const std::string& value);

// The platform's copy that a value of `name` also sets, with ConvertLanguageCode of the value:
// kUiLanguageName for kUiLocaleName, null for every other name. The one statement of that
// rule; the service (client writes), the defaults and the Infocast adapter ask it.
const char* LanguageCopyOf(const std::string& name);
