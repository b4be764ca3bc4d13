// Escaping rules. The escaped text is meant for character data and for attribute values in
// double or single quotes, and parsing it back must give the original bytes.
//
//   &  <  >  "  '         ->  &amp; &lt; &gt; &quot; &apos;
//   tab, line feed, CR    ->  &#9; &#10; &#13;   (a parser turns a literal CR into a line
//                                                 feed, and in attributes all three into
//                                                 spaces; the references survive both)
//   valid UTF-8 (any non-ASCII character XML allows, e.g. "Zürich", "日本")  ->  unchanged
//
// What XML 1.0 cannot carry at all, not even as a character reference, is replaced by
// U+FFFD (EF BF BD), one per offending byte:
//   - the control bytes 0x00-0x08, 0x0B, 0x0C, 0x0E-0x1F;
//   - bytes that are not part of well-formed UTF-8 (a stray 0x80, a cut sequence, an
//     overlong form such as C0 AF, an encoded surrogate ED A0 80, anything above U+10FFFF);
//   - the non-characters U+FFFE and U+FFFF.
// The written document therefore always parses; a settings file must never become unreadable
// because one value held a byte it cannot represent. Such a value reads back changed (the
// replacement marks where), every other value reads back exactly.
#include "xml/TXmlFormat.h"

#include <cstdint>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at text[i] holding a character XML allows, or 0.
size_t ValidSequenceLength(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length;
  uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  bool notCharacter = code == 0xFFFE || code == 0xFFFF || code > 0x10FFFF;
  return overlong || surrogate || notCharacter ? 0 : length;
}

}  // namespace

TXmlFormat::TXmlFormat(const std::string& text) {
  escaped_.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t length = ValidSequenceLength(text, i);
      if (length == 0) {
        escaped_ += kReplacement;
        ++i;
      } else {
        escaped_.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '&':
        escaped_ += "&amp;";
        break;
      case '<':
        escaped_ += "&lt;";
        break;
      case '>':
        escaped_ += "&gt;";
        break;
      case '"':
        escaped_ += "&quot;";
        break;
      case '\'':
        escaped_ += "&apos;";
        break;
      case '\t':
        escaped_ += "&#9;";
        break;
      case '\n':
        escaped_ += "&#10;";
        break;
      case '\r':
        escaped_ += "&#13;";
        break;
      default:
        if (c < 0x20) {
          escaped_ += kReplacement;
        } else {
          escaped_ += static_cast<char>(c);
        }
    }
    ++i;
  }
}
