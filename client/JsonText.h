// JSON text for the machine-readable output of infoctl and infoservice-web. Names and values
// are byte strings, JSON text is Unicode, so the bytes are carried over losslessly like this:
//
//   - valid UTF-8 stays as it is, except the quote, the backslash and the control characters
//     below U+0020, which are escaped ("\"", "\\", "\n", "\t", "\r", "\b", "\f", and "\u00XX"
//     for the others, NUL included: "\u0000");
//   - every byte that is not part of a valid UTF-8 sequence (a stray continuation byte, a
//     truncated or overlong sequence, an encoded surrogate, anything above U+10FFFF) becomes
//     "\udcXX", XX its value in lower-case hex: the lone low surrogates U+DC80 to U+DCFF,
//     which valid UTF-8 can never produce, so the mapping is reversible. This is the
//     convention Python calls "surrogateescape": json.loads(line) followed by
//     .encode("utf-8", "surrogateescape") gives back the original bytes.
//
// Examples: a"b is written "a\"b"; "café" in UTF-8 stays "café"; the same word in Latin-1
// (the lone byte 0xE9) becomes "caf\udce9"; a line feed and a NUL give "\n\u0000".
#pragma once

#include <string>

// bytes as a quoted JSON string.
std::string JsonString(const std::string& bytes);

// {"NAME":"VALUE",...} of the name and value pairs from begin to end, in their order.
template <typename TIterator>
std::string JsonObject(TIterator begin, TIterator end) {
  std::string text = "{";
  for (TIterator pair = begin; pair != end; ++pair) {
    if (text.size() > 1) text += ',';
    text += JsonString(pair->first) + ":" + JsonString(pair->second);
  }
  return text + "}";
}
