// What the tests of the daemon's start-up share: an adapter that tells the test when it is
// initialised and asked to fetch, a server without a socket, and a fixture holding a service,
// its subscription list (recording every notification instead of calling anybody) and its
// platform registration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "daemon/TPlatformRegistration.h"
#include "ipc/IIpcServer.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcDispatcher.h"
#include "service/TInformationAdapter.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"

namespace test {

// Volatile storage for every name, like the volatile adapter, that also counts fetches.
class TProbeAdapter final : public TInformationAdapter {
 public:
  std::function<void()> onInitialize;
  int fetches = 0;
  bool initialisedWithCallback = false;

  void InitializeObjects() override {
    initialisedWithCallback = callback_ != nullptr;
    if (onInitialize) onInitialize();
  }
  bool IsStorageType(TStorageType type) const override {
    return type == IToiInformationService::eVolatile;
  }
  void SetObject(const std::string& name, const std::string& value) override {
    objects_[name] = value;
    callback_->OnSetObject(this, name);
  }
  void FetchObjects() override { ++fetches; }
};

// A server without a socket: its objects are numbers on a path that does not exist.
class TInProcessServer final : public IIpcServer {
 public:
  std::vector<std::string> objects;

  // IIpcServer
  std::string CreateObject() override {
    objects.push_back(TIpcAddress::Format("/in-process.sock", objects.size() + 1));
    return objects.back();
  }
  uint32_t AddDispatcher(const std::string&, TIpcDispatcher*) override {
    return static_cast<uint32_t>(objects.size());
  }
  void RemoveDispatcher(uint32_t, TIpcDispatcher*) override {}
};

class TDaemonTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform_.reset();
    service_.reset();
  }

  // A service without aliases holding one probe adapter, and its registration.
  void Create(bool standalone) {
    service_ = std::make_unique<TInformationService>("", &subscriptions_);
    service_->SetAddressCheck(!standalone);
    platform_ = std::make_unique<TPlatformRegistration>(&client_, subscriptions_, *service_);
    probe_ = new TProbeAdapter();
    service_->AddAdapter(std::unique_ptr<IInformationAdapter>(probe_));
  }

  TScopedProcessTracker tracker_;
  TTempDir root_;
  std::vector<std::string> notifications_;
  TIpcClient client_;
  TInProcessServer server_;
  TSubscriptionList subscriptions_{
      nullptr, [this](const std::string& address, TSubscriptionList::TNotification,
                      const TStringList& names) {
        notifications_.push_back(address + " " + names.front());
      }};
  std::unique_ptr<TInformationService> service_;
  std::unique_ptr<TPlatformRegistration> platform_;
  TProbeAdapter* probe_ = nullptr;  // owned by the service
};

}  // namespace test
