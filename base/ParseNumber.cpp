#include "base/ParseNumber.h"

namespace {

// Value of a digit in base 16 (also right for base 10 digits), -1 for anything else.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

TParseNumberResult ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const uint64_t base = hex ? 16 : 10;
  if (digits.empty()) return TParseNumberResult::kNotANumber;
  uint64_t result = 0;
  for (char digit : digits) {
    const int d = DigitValue(digit);
    if (d < 0 || static_cast<uint64_t>(d) >= base) return TParseNumberResult::kNotANumber;
  }
  for (char digit : digits) {
    const uint64_t d = static_cast<uint64_t>(DigitValue(digit));
    if (result > (max - d) / base) return TParseNumberResult::kAboveMax;
    result = result * base + d;
  }
  value = result;
  return TParseNumberResult::kOk;
}
