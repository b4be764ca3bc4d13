#include "base/TLogTracker.h"

#include <syslog.h>

#include "base/TraceFormat.h"

namespace {

int FacilityFor(int number) {
  static const int kLocal[] = {LOG_LOCAL0, LOG_LOCAL1, LOG_LOCAL2, LOG_LOCAL3,
                               LOG_LOCAL4, LOG_LOCAL5, LOG_LOCAL6, LOG_LOCAL7};
  return number >= 0 && number < 8 ? kLocal[number] : LOG_DAEMON;
}

int PriorityFor(int severity) {
  switch (severity) {
    case 1:
      return LOG_CRIT;
    case 2:
      return LOG_ERR;
    case 3:
      return LOG_WARNING;
    default:
      return LOG_DEBUG;
  }
}

}  // namespace

TLogTracker::TLogTracker(TLevel level, int facility) : TTracker(level) {
  openlog("infoservice", LOG_PID | LOG_NDELAY, FacilityFor(facility));
}

TLogTracker::~TLogTracker() { closelog(); }

void TLogTracker::Output(int severity, const char* format, va_list args) {
  std::string line = FormatTraceLine(format, args);
  syslog(PriorityFor(severity), "%s", line.c_str());
}
