// Trace sink that writes one line per message to standard error, prefixed with a severity
// letter and, when asked, a local time stamp. Used in standalone mode and by the tools.
#pragma once

#include "base/TTracker.h"

class TStderrTracker final : public TTracker {
 public:
  TStderrTracker(TLevel level, bool timestamps);

 protected:
  // TTracker
  void Output(int severity, const char* format, va_list args) override;

 private:
  bool timestamps_;
};
