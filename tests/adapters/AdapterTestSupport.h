// Fakes shared by the adapter tests: an event loop that only records timeouts for the clock
// moved by hand, and a callback that records what the adapter reports.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "os/IIOEventLoop.h"
#include "os/TManualClock.h"
#include "service/IInformationAdapter.h"
#include "service/IInformationAdapterCallback.h"
#include "tests/TestSupport.h"

namespace test {

// The adapter's value of name, or "<absent>" when it holds none.
inline std::string ValueOf(const IInformationAdapter& adapter, const std::string& name) {
  std::string value = "<absent>";
  adapter.GetObject(name, value);
  return value;
}

// Records every timeout; nothing fires by itself.
class TFakeLoop final : public IIOEventLoop {
 public:
  struct TTimeout {
    unsigned int milliseconds;
    IIOTimeoutHandler* handler;
    bool oneShot = false;
  };
  void RegisterFileDescriptor(int, unsigned int, int, IIOEventHandler*) override {}
  void UnregisterFileDescriptor(int) override {}
  int AddTimeout(unsigned int milliseconds, IIOTimeoutHandler* handler) override {
    added.push_back(milliseconds);
    active[nextId_] = {milliseconds, handler};
    return nextId_++;
  }
  int AddOneShotTimeout(uint64_t milliseconds, IIOTimeoutHandler* handler) override {
    const int id =
        AddTimeout(static_cast<unsigned int>(std::min<uint64_t>(milliseconds, UINT_MAX)), handler);
    active[id].oneShot = true;
    return id;
  }
  void RemoveTimeout(int identifier) override { active.erase(identifier); }
  // The one armed timeout's delay in milliseconds; fails the test when there is not exactly one.
  unsigned int PendingMs() const {
    EXPECT_EQ(active.size(), 1u);
    return active.empty() ? 0 : active.begin()->second.milliseconds;
  }
  // Moves the clock by the armed delay and fires the timeout.
  void Fire(TManualClock& clock) {
    ASSERT_EQ(active.size(), 1u);
    const auto timeout = *active.begin();
    clock.Advance(timeout.second.milliseconds);
    if (timeout.second.oneShot) active.erase(timeout.first);
    timeout.second.handler->HandleTimeout(timeout.first);
  }
  std::vector<unsigned int> added;
  std::map<int, TTimeout> active;

 private:
  int nextId_ = 0;
};

// Records every report as "set <name>", "unset <name>" or "enumerate <name>"; wants no fetch.
class TRecordingCallback final : public IInformationAdapterCallback {
 public:
  void OnSetObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("set " + name);
  }
  void OnUnsetObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("unset " + name);
  }
  void OnEnumerateObject(const IInformationAdapter*, const std::string& name) const override {
    reports.push_back("enumerate " + name);
  }
  bool OnFetchObject(const IInformationAdapter*, const std::string&) const override {
    return false;
  }
  TUniqueFd OpenClientFile(const std::string& path, int flags) const override {
    return TUniqueFd(::open(path.c_str(), flags));
  }

  mutable std::vector<std::string> reports;
};

}  // namespace test
