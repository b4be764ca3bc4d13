#include "base/TTracker.h"

#include <cstdio>

namespace {

// Stands in until start-up sets the process tracker (tests, tools, early failures).
class TFallbackTracker final : public TTracker {
 public:
  TFallbackTracker() : TTracker(kWarning) {}

 protected:
  void Output(int, const char* format, va_list args) override {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
  }
};

TTracker* g_processTracker = nullptr;

}  // namespace

TTracker::TTracker(TLevel level) : level_(level) {}
TTracker::~TTracker() = default;

void TTracker::Emit(int severity, const char* format, va_list args) {
  if (level_ >= severity) Output(severity, format, args);
}

#define TRACKER_FORWARD(severity) \
  va_list args;                   \
  va_start(args, format);         \
  Emit(severity, format, args);   \
  va_end(args)

void TTracker::Fatal(const char* format, ...) { TRACKER_FORWARD(kFatal); }
void TTracker::Error(const char* format, ...) { TRACKER_FORWARD(kError); }
void TTracker::Warning(const char* format, ...) { TRACKER_FORWARD(kWarning); }
void TTracker::Trace(const char* format, ...) { TRACKER_FORWARD(kTrace); }

#undef TRACKER_FORWARD

TTracker* TTracker::GetProcessTracker() {
  static TFallbackTracker fallback;
  return g_processTracker ? g_processTracker : &fallback;
}

void TTracker::SetProcessTracker(TTracker* tracker) { g_processTracker = tracker; }
