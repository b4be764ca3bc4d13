// Formatting shared by the trace sinks: one message into one line, never longer than a
// bounded buffer, with embedded line feeds replaced so that a sink line is always one line.
#pragma once

#include <cstdarg>
#include <string>

std::string FormatTraceLine(const char* format, va_list args);
const char* SeverityName(int severity);
