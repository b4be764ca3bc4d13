// Shared by the IPC tests: a private runtime directory per test, a server serving on its own
// thread, and a fake information service that records every call it receives.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "tests/TestSupport.h"
#include "toi/IToiInformationService.h"
#include "toi/TInformationServiceDispatcher.h"
#include "toi/TToiInformationObserverCaller.h"

// Points RootPath at a fresh temporary tree for the lifetime of the object.
class TTemporaryRoot final {
 public:
  TTemporaryRoot() { setenv("INFOSERVICE_ROOT", directory_.Path().c_str(), 1); }
  ~TTemporaryRoot() { unsetenv("INFOSERVICE_ROOT"); }
  const std::string& Path() const { return directory_.Path(); }

 private:
  test::TTempDir directory_;
};

inline std::string Join(const TStringList& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + list[i];
  return out + "]";
}

// Records each call as one line; names beginning "missing" are unknown (201), the name
// "boom" makes the operation fail with a non-dispatchable exception. SetObject notifies every
// subscribed address one-way, as the daemon does, and swallows failed deliveries.
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
    Record("GetObject(" + name + ")");
    Check(name);
    std::lock_guard<std::mutex> lock(mutex_);
    value = values_[name];
  }
  void GetObjects(const TStringList& names, TStringList& values) override {
    Record("GetObjects(" + Join(names) + ")");
    for (const auto& name : names) {
      Check(name);
      std::lock_guard<std::mutex> lock(mutex_);
      values.push_back(values_[name]);
    }
  }
  void GetObjectToFile(const std::string& name, const std::string& fileName) override {
    Record("GetObjectToFile(" + name + "," + fileName + ")");
    Check(name);
  }
  void SetObject(const std::string& name, const std::string& value,
                 TStorageType storageType) override {
    Record("SetObject(" + name + "," + std::to_string(value.size()) + "," +
           std::to_string(storageType) + ")");
    Check(name);
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
                  const std::vector<TStorageType>& storageTypes) override {
    std::string types;
    for (auto type : storageTypes) types += std::to_string(type);
    Record("SetObjects(" + Join(names) + "," + Join(values) + "," + types + ")");
  }
  void SetObjectFromFile(const std::string& name, const std::string& fileName,
                         TStorageType storageType) override {
    Record("SetObjectFromFile(" + name + "," + fileName + "," + std::to_string(storageType) + ")");
  }
  void UnsetObject(const std::string& name, TStorageType storageType) override {
    Record("UnsetObject(" + name + "," + std::to_string(storageType) + ")");
  }
  void UnsetObjects(const TStringList& names,
                    const std::vector<TStorageType>& storageTypes) override {
    Record("UnsetObjects(" + Join(names) + "," + std::to_string(storageTypes.size()) + ")");
  }
  void SubscribeObject(const std::string& expression, int id, const std::string& address) override {
    Record("SubscribeObject(" + expression + "," + std::to_string(id) + "," + address + ")");
    subscribers_.push_back(address);
  }
  void SubscribeObject2(const std::string& expression, int id, const std::string& address,
                        bool enumerate) override {
    Record("SubscribeObject2(" + expression + "," + std::to_string(id) + "," + address + "," +
           std::to_string(enumerate) + ")");
  }
  void SubscribeObjects(const TStringList& expressions, int id,
                        const std::string& address) override {
    Record("SubscribeObjects(" + Join(expressions) + "," + std::to_string(id) + "," + address +
           ")");
  }
  void SubscribeObjects2(const TStringList& expressions, int id, const std::string& address,
                         bool enumerate) override {
    Record("SubscribeObjects2(" + Join(expressions) + "," + std::to_string(id) + "," + address +
           "," + std::to_string(enumerate) + ")");
  }
  void UnsubscribeObject(const std::string& expression, const std::string& address) override {
    Record("UnsubscribeObject(" + expression + "," + address + ")");
  }
  void UnsubscribeObjects(const TStringList& expressions, const std::string& address) override {
    Record("UnsubscribeObjects(" + Join(expressions) + "," + address + ")");
  }
  void UnsubscribeAllObjects(const std::string& address) override {
    Record("UnsubscribeAllObjects(" + address + ")");
  }
  void SubscribeObjectInternal(const std::string& expression, const std::string& address) override {
    Record("SubscribeObjectInternal(" + expression + "," + address + ")");
  }
  void SubscribeObject2Internal(const std::string& expression, const std::string& address,
                                bool enumerate) override {
    Record("SubscribeObject2Internal(" + expression + "," + address + "," +
           std::to_string(enumerate) + ")");
  }
  void SubscribeObjectsInternal(const TStringList& expressions,
                                const std::string& address) override {
    Record("SubscribeObjectsInternal(" + Join(expressions) + "," + address + ")");
  }
  void SubscribeObjects2Internal(const TStringList& expressions, const std::string& address,
                                 bool enumerate) override {
    Record("SubscribeObjects2Internal(" + Join(expressions) + "," + address + "," +
           std::to_string(enumerate) + ")");
  }
  void GetObject2(const std::string& name, std::string& value, bool& cacheable) override {
    GetObject(name, value);
    cacheable = true;
  }

 private:
  void Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  static void Check(const std::string& name) {
    if (name.rfind("missing", 0) == 0) throw TUnknownObjectException("Unknown object");
    if (name == "boom") throw std::runtime_error("exploded");
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
