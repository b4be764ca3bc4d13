// The process-wide trace sink with four severities (Fatal 1, Error 2, Warning 3, Trace 5). A
// message passes when the tracker's level is at least its severity; the concrete sink decides
// where the formatted line goes. The process tracker is set once by start-up before anything
// else is built; until then a standard-error fallback that passes Fatal, Error and Warning
// stands in, so that nothing traced early is lost. Not thread-safe: the service has one thread.
#pragma once

#include <cstdarg>

class TTracker {
 public:
  using TLevel = int;
  static constexpr int kFatal = 1;
  static constexpr int kError = 2;
  static constexpr int kWarning = 3;
  static constexpr int kTrace = 5;

  explicit TTracker(TLevel level);
  virtual ~TTracker();
  TTracker(const TTracker&) = delete;
  TTracker& operator=(const TTracker&) = delete;

  TLevel GetLevel() const { return level_; }
  void SetLevel(TLevel level) { level_ = level; }

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
  void Emit(int severity, const char* format, va_list args);

  TLevel level_;
};
