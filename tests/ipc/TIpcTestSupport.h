// Shared by the IPC tests: a server serving on its own thread, and a fake information service
// that records every call it receives.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "tests/TestSupport.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TToiInformationObserverCaller.h"

inline std::string Text(const std::string& text) { return text; }
inline std::string Text(int number) { return std::to_string(number); }
inline std::string Text(const TStringList& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + list[i];
  return out + "]";
}
inline std::string Text(const std::vector<IToiInformationService::TStorageType>& types) {
  std::string out;
  for (auto type : types) out += std::to_string(type);
  return out;
}

// Records each call as "Operation(argument,...)"; names beginning "missing" are unknown (201),
// the name "boom" makes the operation fail with a non-dispatchable exception. SetObject
// notifies every subscribed address one-way, as the daemon does, and counts failed deliveries.
class TFakeInformationService final : public IToiInformationService {
 public:
  explicit TFakeInformationService(TIpcClient& client) : client_(client) {}
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::string LastCall() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.empty() ? "" : calls_.back();
  }
  int FailedDeliveries() const { return failedDeliveries_.load(); }
  std::string Value(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_[name];
  }
  void GetObject(const std::string& name, std::string& value) override {
    Record("GetObject", name);
    value = Value(name);
  }
  void GetObjects(const TStringList& names, TStringList& values) override {
    Record("GetObjects", names);
    for (const auto& name : names) values.push_back(Value(Check(name)));
  }
  void GetObjectToFile(const std::string& name, const std::string& file) override {
    Record("GetObjectToFile", name, file);
  }
  void SetObject(const std::string& name, const std::string& value, TStorageType type) override {
    Record("SetObject", name, static_cast<int>(value.size()), type);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      values_[name] = value;
    }
    for (const auto& address : subscribers_) {
      try {
        TToiInformationObserverCaller(&client_, address).OnObjectsChanged({name});
      } catch (const TException&) {
        ++failedDeliveries_;
      }
    }
  }
  void SetObjects(const TStringList& names, const TStringList& values,
                  const std::vector<TStorageType>& types) override {
    Record("SetObjects", names, values, types);
  }
  void SetObjectFromFile(const std::string& name, const std::string& file,
                         TStorageType type) override {
    Record("SetObjectFromFile", name, file, type);
  }
  void UnsetObject(const std::string& name, TStorageType type) override {
    Record("UnsetObject", name, type);
  }
  void UnsetObjects(const TStringList& names, const std::vector<TStorageType>& types) override {
    Record("UnsetObjects", names, types);
  }
  void SubscribeObject(const std::string& expression, int id, const std::string& address) override {
    Record("SubscribeObject", expression, id, address);
    subscribers_.push_back(address);
  }
  void SubscribeObject2(const std::string& expression, int id, const std::string& address,
                        bool enumerate) override {
    Record("SubscribeObject2", expression, id, address, enumerate);
  }
  void SubscribeObjects(const TStringList& expressions, int id,
                        const std::string& address) override {
    Record("SubscribeObjects", expressions, id, address);
  }
  void SubscribeObjects2(const TStringList& expressions, int id, const std::string& address,
                         bool enumerate) override {
    Record("SubscribeObjects2", expressions, id, address, enumerate);
  }
  void UnsubscribeObject(const std::string& expression, const std::string& address) override {
    Record("UnsubscribeObject", expression, address);
  }
  void UnsubscribeObjects(const TStringList& expressions, const std::string& address) override {
    Record("UnsubscribeObjects", expressions, address);
  }
  void UnsubscribeAllObjects(const std::string& address) override {
    Record("UnsubscribeAllObjects", address);
  }
  void SubscribeObjectInternal(const std::string& expression, const std::string& address) override {
    Record("SubscribeObjectInternal", expression, address);
  }
  void SubscribeObject2Internal(const std::string& expression, const std::string& address,
                                bool enumerate) override {
    Record("SubscribeObject2Internal", expression, address, enumerate);
  }
  void SubscribeObjectsInternal(const TStringList& expressions,
                                const std::string& address) override {
    Record("SubscribeObjectsInternal", expressions, address);
  }
  void SubscribeObjects2Internal(const TStringList& expressions, const std::string& address,
                                 bool enumerate) override {
    Record("SubscribeObjects2Internal", expressions, address, enumerate);
  }
  void GetObject2(const std::string& name, std::string& value, bool& cacheable) override {
    GetObject(name, value);
    cacheable = true;
  }

 private:
  template <typename TFirst, typename... TRest>
  void Record(const char* operation, const TFirst& first, const TRest&... rest) {
    std::string call = std::string(operation) + "(" + Text(first);
    ((call += "," + Text(rest)), ...);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(call + ")");
    }
    if constexpr (std::is_same_v<TFirst, std::string>) Check(first);
  }
  static const std::string& Check(const std::string& name) {
    if (name.rfind("missing", 0) == 0) throw TUnknownObjectException("Unknown object");
    if (name == "boom") throw std::runtime_error("exploded");
    return name;
  }
  TIpcClient& client_;
  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::map<std::string, std::string> values_;
  std::vector<std::string> subscribers_;  // touched on the server thread only
  std::atomic<int> failedDeliveries_{0};
};

// A loop and server with the fake service, serving on its own thread between construction
// and destruction.
class TServedFake final {
 public:
  TServedFake()
      : fake_(serverClient_),
        address_(server_.CreateObject()),
        dispatcher_(server_, address_, fake_),
        thread_([this] { loop_.Run(); }) {}
  ~TServedFake() {
    loop_.Stop();
    thread_.join();
  }
  const std::string& Address() const { return address_; }
  TFakeInformationService& Fake() { return fake_; }
  TIpcServer& Server() { return server_; }

 private:
  TEpollEventLoop loop_;
  TIpcClient serverClient_{loop_};
  TIpcServer server_{loop_};
  TFakeInformationService fake_;
  std::string address_;
  TInformationServiceDispatcher dispatcher_;
  std::thread thread_;
};
