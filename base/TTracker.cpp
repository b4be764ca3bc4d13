#include "base/TTracker.h"

#include <cstdio>

// Rate limit, per format string (keyed by its address), once a clock is handed over:
//   - each format has a budget of kBurst lines; one line is earned back per kIntervalMs, up
//     to kBurst again;
//   - a message the budget cannot pay for is dropped and counted;
//   - the next message of that format that is written is preceded by one line
//     "TTracker: N messages suppressed: <the format string>" of its own severity, paid from
//     the same budget, so that a format never writes more than one line per interval after
//     its burst;
//   - Fatal messages are never limited, nor counted; a message below the level costs nothing.
// Examples, one message of a format every 10 ms: messages 1-10 are written, 11-200 dropped;
// message 201, two seconds after the first, writes "TTracker: 190 messages suppressed: ..."
// and then itself; from then on these two lines every two seconds. A format written once at
// start-up, or once a second, is never touched.

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

void TTracker::LimitRate(const IMonotonicClock* clock) {
  clock_ = clock;
  budgets_.clear();
  shared_ = TBudget{kBurst, clock ? clock->MonotonicMs() : 0, 0};
}

void TTracker::Emit(int severity, const char* format, va_list args) {
  if (level_ < severity) return;
  if (clock_ && severity != kFatal && !Admit(severity, format)) return;
  Output(severity, format, args);
}

TTracker::TBudget& TTracker::BudgetOf(const char* format, int64_t now) {
  auto found = budgets_.find(format);
  if (found != budgets_.end()) return found->second;
  if (budgets_.size() >= kMaxLimitedFormats) return shared_;
  return budgets_.emplace(format, TBudget{kBurst, now, 0}).first->second;
}

bool TTracker::Admit(int severity, const char* format) {
  const int64_t now = clock_->MonotonicMs();
  TBudget& budget = BudgetOf(format, now);
  const int64_t earned = (now - budget.earnedMs) / kIntervalMs;
  if (earned > 0) {
    if (earned >= kBurst - budget.left) {
      budget.left = kBurst;
      budget.earnedMs = now;
    } else {
      budget.left += static_cast<int>(earned);
      budget.earnedMs += earned * kIntervalMs;
    }
  }
  const int cost = budget.suppressed > 0 ? 2 : 1;
  if (budget.left < cost) {
    ++budget.suppressed;
    return false;
  }
  budget.left -= cost;
  if (budget.suppressed > 0) {
    OutputLine(severity, "TTracker: %lu messages suppressed: %s", budget.suppressed, format);
    budget.suppressed = 0;
  }
  return true;
}

void TTracker::OutputLine(int severity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Output(severity, format, args);
  va_end(args);
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
