// Helpers shared by the unit tests: a temporary directory removed with its content, whole-file
// reads and writes, and a tracker that records what was traced.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/TTracker.h"

namespace test {

class TTempDir final {
 public:
  TTempDir() {
    std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    pattern += "/infoservice-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TTempDir() {
    nftw(
        path_.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Records every message that passes the level, formatted, with its severity.
// A temporary directory that is the box root (INFOSERVICE_ROOT) while it lives, holding the
// HAL's folder (var/hal) for the tests of what the HAL backs.
class THalRoot final {
 public:
  THalRoot() {
    setenv("INFOSERVICE_ROOT", dir_.Path().c_str(), 1);
    mkdir(dir_.File("var").c_str(), 0755);
    mkdir(dir_.File("var/hal").c_str(), 0755);
  }
  ~THalRoot() { unsetenv("INFOSERVICE_ROOT"); }
  THalRoot(const THalRoot&) = delete;
  THalRoot& operator=(const THalRoot&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  TTempDir dir_;
};

class TRecordingTracker final : public TTracker {
 public:
  explicit TRecordingTracker(TLevel level = 6) : TTracker(level) {}

  // True when a message of `severity` holds `part`.
  bool Holds(int severity, const std::string& part) const {
    for (const auto& [messageSeverity, text] : messages) {
      if (messageSeverity == severity && text.find(part) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<std::pair<int, std::string>> messages;

 protected:
  void Output(int severity, const char* format, va_list args) override {
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    messages.emplace_back(severity, buffer);
  }
};

// Makes a recording tracker the process tracker for the scope of a test.
class TScopedProcessTracker final {
 public:
  TScopedProcessTracker() { TTracker::SetProcessTracker(&tracker_); }
  ~TScopedProcessTracker() { TTracker::SetProcessTracker(nullptr); }
  TScopedProcessTracker(const TScopedProcessTracker&) = delete;
  TScopedProcessTracker& operator=(const TScopedProcessTracker&) = delete;

  TRecordingTracker& Tracker() { return tracker_; }

 private:
  TRecordingTracker tracker_;
};

// A data file that must stop the process: its content (nullptr: the file is absent) and a
// regular expression the fatal trace must match.
struct TFatalFileCase {
  const char* content;
  const char* message;
};

// For each case, writes the file as fileName in a fresh directory and expects load(path) to
// trace the message and abort. Each death test reruns in a child process.
template <typename TLoad>
void ExpectEachFileIsFatal(const char* fileName, std::initializer_list<TFatalFileCase> cases,
                           TLoad load) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const TFatalFileCase& c : cases) {
    TTempDir dir;
    const std::string path = dir.File(fileName);
    if (c.content) WriteFile(path, c.content);
    EXPECT_DEATH(load(path), c.message) << (c.content ? c.content : "<missing file>");
  }
}

}  // namespace test
