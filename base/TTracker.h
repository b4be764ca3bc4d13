// The process-wide trace sink with four severities (Fatal 1, Error 2, Warning 3, Trace 5). A
// message passes when the tracker's level is at least its severity; the concrete sink decides
// where the formatted line goes. The process tracker is set once by start-up before anything
// else is built; until then a standard-error fallback that passes Fatal, Error and Warning
// stands in, so that nothing traced early is lost. Not thread-safe: the service has one thread.
//
// Once handed a clock (LimitRate), the tracker bounds how often one format string is written,
// whatever the sink: input from the network or from clients triggers traces at the rate the
// input arrives, and the box's log lives on flash. The rule is in TTracker.cpp.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "base/IMonotonicClock.h"

class TTracker {
 public:
  using TLevel = int;
  static constexpr int kFatal = 1;
  static constexpr int kError = 2;
  static constexpr int kWarning = 3;
  static constexpr int kTrace = 5;

  // Lines of one format written at once before the steady rate applies.
  static constexpr int kBurst = 10;
  // The steady rate of one format: one line per interval, a suppressed-count line included.
  static constexpr int64_t kIntervalMs = 1000;
  // Formats with a budget of their own; further ones share one budget (whose suppressed
  // line names the format that ends the gap). Formats are the program's literals, so the
  // table stays far below this.
  static constexpr size_t kMaxLimitedFormats = 512;

  explicit TTracker(TLevel level);
  virtual ~TTracker();
  TTracker(const TTracker&) = delete;
  TTracker& operator=(const TTracker&) = delete;

  TLevel GetLevel() const { return level_; }
  void SetLevel(TLevel level) { level_ = level; }

  // From now on limits the rate of every message below Fatal, per format string, on clock,
  // which is not owned and must outlive the tracker or be replaced. nullptr (the start) writes
  // every message; the budgets so far are forgotten either way.
  void LimitRate(const IMonotonicClock* clock);

  // printf-style; none of them ends the process.
  void Fatal(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The process tracker: the one set by start-up, else the fallback. Never null.
  static TTracker* GetProcessTracker();
  // Start-up hands over the tracker it created; the caller keeps ownership. nullptr restores
  // the fallback.
  static void SetProcessTracker(TTracker* tracker);

 protected:
  // Writes one message of the given severity; called only for messages that pass the level.
  virtual void Output(int severity, const char* format, va_list args) = 0;

 private:
  // What one format may still write: lines left in the burst, when the last one was
  // earned, and how many were dropped since the last one written.
  struct TBudget {
    int left;
    int64_t earnedMs;
    unsigned long suppressed;
  };

  void Emit(int severity, const char* format, va_list args);
  bool Admit(int severity, const char* format);
  TBudget& BudgetOf(const char* format, int64_t now);
  void OutputLine(int severity, const char* format, ...) __attribute__((format(printf, 3, 4)));

  TLevel level_;
  const IMonotonicClock* clock_ = nullptr;
  // Keyed by the format's address: one entry per call site (or per literal the compiler
  // merged), found without reading the text.
  std::unordered_map<const char*, TBudget> budgets_;
  TBudget shared_{kBurst, 0, 0};
};
