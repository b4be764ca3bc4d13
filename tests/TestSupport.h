// Helpers shared by the unit tests: temporary directories (also as the box root), whole-file
// reads and writes, a tracker that records what was traced, and the refusal of a call as text.
#pragma once

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/TException.h"
#include "base/TTracker.h"

namespace test {

class TTempDir {
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

// A temporary directory that is the box root (INFOSERVICE_ROOT) while it lives, holding the
// given folders (parents first).
class TRootDir : public TTempDir {
 public:
  explicit TRootDir(std::initializer_list<const char*> folders = {}) {
    setenv("INFOSERVICE_ROOT", Path().c_str(), 1);
    for (const char* folder : folders) mkdir(File(folder).c_str(), 0755);
  }
  ~TRootDir() { unsetenv("INFOSERVICE_ROOT"); }
};

// The root with the HAL's folder (var/hal), for the tests of what the HAL backs.
class THalRoot final : public TRootDir {
 public:
  THalRoot() : TRootDir({"var", "var/hal"}) {}
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

// The names in a directory but "." and "..", sorted.
inline std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// "" when call() returns, "<code> <text>" when it throws a dispatchable exception.
template <typename TCall>
std::string Refusal(TCall call) {
  try {
    call();
  } catch (const TDispatchableException& refused) {
    return std::to_string(refused.GetCode()) + " " + refused.GetText();
  }
  return "";
}

// Records every message that passes the level, formatted, with its severity.
class TRecordingTracker final : public TTracker {
 public:
  explicit TRecordingTracker(TLevel level = 6) : TTracker(level) {}
  // The number of messages of any severity holding `part`.
  size_t Count(const std::string& part) const {
    return std::count_if(messages.begin(), messages.end(), [&](const auto& message) {
      return message.second.find(part) != std::string::npos;
    });
  }
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
