#include "base/TStderrTracker.h"

#include <cstdio>
#include <ctime>

#include "base/TraceFormat.h"

TStderrTracker::TStderrTracker(TLevel level, bool timestamps)
    : TTracker(level), timestamps_(timestamps) {}

void TStderrTracker::Output(int severity, const char* format, va_list args) {
  std::string line = FormatTraceLine(format, args);
  char stamp[32] = "";
  if (timestamps_) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    size_t n = strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03ld ", now.tv_nsec / 1000000);
  }
  // One fprintf per line keeps lines whole even when several processes share the terminal.
  std::fprintf(stderr, "%s%s: %s\n", stamp, SeverityName(severity), line.c_str());
  std::fflush(stderr);
}
