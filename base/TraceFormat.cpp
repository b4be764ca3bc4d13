#include "base/TraceFormat.h"

#include <cstdio>

std::string FormatTraceLine(const char* format, va_list args) {
  // Long values (a settings file, a datagram) may be traced; cut them rather than allocate
  // without bound.
  char buffer[2048];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (n < 0) return std::string("(unformattable trace message: ") + format + ")";
  std::string line(buffer);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

const char* SeverityName(int severity) {
  switch (severity) {
    case 1:
      return "FATAL";
    case 2:
      return "ERROR";
    case 3:
      return "WARNING";
    default:
      return "TRACE";
  }
}
