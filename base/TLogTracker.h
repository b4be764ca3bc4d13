// Trace sink that writes one message per syslog(3) record under the identity "infoservice".
// The second constructor argument is the log facility number (LOG_LOCAL0 + n is used when
// 0..7 is given, otherwise LOG_DAEMON).
#pragma once

#include "base/TTracker.h"

class TLogTracker final : public TTracker {
 public:
  TLogTracker(TLevel level, int facility);
  ~TLogTracker() override;

 protected:
  // TTracker
  void Output(int severity, const char* format, va_list args) override;
};
