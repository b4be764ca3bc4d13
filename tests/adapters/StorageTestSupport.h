// Fakes shared by the storage adapter tests: a temporary directory, a clock moved by hand, an
// event loop that only records timeouts, a callback and a tracker that record what they get.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/IClock.h"
#include "platform/IIOEventLoop.h"
#include "service/IInformationAdapterCallback.h"
#include "service/TTracker.h"

namespace storage_test {

class TTempDir final {
 public:
  TTempDir() {
    char pattern[] = "/tmp/storage-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TTempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline bool Exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

inline ino_t InodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

inline std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(directory);
  }
  return names;
}

class TManualClock final : public IClock {
 public:
  explicit TManualClock(time_t now) : now_(now) {}
  int64_t MonotonicMs() const override { return static_cast<int64_t>(now_) * 1000; }
  time_t WallSeconds() const override { return now_; }
  void Advance(time_t seconds) { now_ += seconds; }
  void Set(time_t now) { now_ = now; }

 private:
  time_t now_;
};

// Records every timeout; nothing fires by itself.
class TFakeLoop final : public IIOEventLoop {
 public:
  struct TTimeout {
    unsigned int milliseconds;
    IIOTimeoutHandler* handler;
  };

  void RegisterFileDescriptor(int, unsigned int, int, IIOEventHandler*) override {}
  void UnregisterFileDescriptor(int) override {}
  int AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) override {
    added.push_back(milliseconds);
    active[nextId_] = {milliseconds, handler};
    return nextId_++;
  }
  void RemoveTimeout(int identifier) override { active.erase(identifier); }

  // The one armed timeout's delay in milliseconds; fails the test when there is not exactly one.
  unsigned int PendingMs() const {
    EXPECT_EQ(active.size(), 1u);
    return active.empty() ? 0 : active.begin()->second.milliseconds;
  }
  // Moves the clock by the armed delay (whole seconds) and fires the timeout.
  void Fire(TManualClock& clock) {
    ASSERT_EQ(active.size(), 1u);
    const auto timeout = *active.begin();
    clock.Advance(timeout.second.milliseconds / 1000);
    timeout.second.handler->HandleTimeout(timeout.first);
  }

  std::vector<unsigned int> added;
  std::map<int, TTimeout> active;

 private:
  int nextId_ = 0;
};

class TRecordingCallback final : public IInformationAdapterCallback {
 public:
  void OnSetObject(const IInformationAdapter*, const std::string& name) const override {
    sets.push_back(name);
  }
  void OnUnsetObject(const IInformationAdapter*, const std::string& name) const override {
    unsets.push_back(name);
  }
  void OnEnumerateObject(const IInformationAdapter*, const std::string&) const override {}
  bool OnFetchObject(const IInformationAdapter*, const std::string&) const override {
    return false;
  }

  mutable std::vector<std::string> sets;
  mutable std::vector<std::string> unsets;
};

// Installed as the process tracker for the lifetime of a test fixture.
class TCapturingTracker final : public TTracker {
 public:
  TCapturingTracker() : TTracker(6) { TTracker::SetProcessTracker(this); }
  ~TCapturingTracker() override { TTracker::SetProcessTracker(nullptr); }

  bool Holds(int severity, const std::string& part) const {
    for (const auto& line : lines) {
      if (line.first == severity && line.second.find(part) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<std::pair<int, std::string>> lines;

 protected:
  void Output(int severity, const char* format, va_list args) override {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    lines.emplace_back(severity, text);
  }
};

}  // namespace storage_test
