// Reads an unsigned number from a text written by a person (a command line, a description
// file): decimal, or hexadecimal after "0x" or "0X"; no sign, no octal, no blanks, nothing
// trailing. "1400", "0x4000" and "65535" read; "", "0x", "-1", "1e3", " 5" and "08x" do not.
#pragma once

#include <cstdint>
#include <string>

enum class TParseNumberResult { kOk, kNotANumber, kAboveMax };

// value is set only for kOk; max bounds the result (inclusive).
TParseNumberResult ParseNumber(const std::string& text, uint64_t max, uint64_t& value);
