// What the command-line tools share: their exit codes, the two ways a tool gives up, and the
// main() that turns either into a message and an exit status.
#pragma once

#include <cstdio>
#include <string>

#include "base/TException.h"

namespace tool {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

[[noreturn]] inline void UsageError(const std::string& text) {
  throw TVerboseException(text, kExitUsage);
}
[[noreturn]] inline void Failure(const std::string& text) {
  throw TVerboseException(text, kExitFailure);
}

// Runs run(argc, argv). A usage error prints "PROGRAM: TEXT" and the usage text and gives
// kExitUsage; any other failure prints "PROGRAM: TEXT" and gives kExitFailure.
inline int Main(const char* program, const char* usage, int (*run)(int, char**), int argc,
                char** argv) {
  try {
    return run(argc, argv);
  } catch (const TVerboseException& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.GetText());
    if (e.GetCode() != kExitUsage) return kExitFailure;
    std::fputs(usage, stderr);
    return kExitUsage;
  } catch (const TException& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.GetText());
    return kExitFailure;
  }
}

}  // namespace tool
