// What the tests of the daemon's start-up share: an adapter that tells the test when it is
// initialised and asked to fetch, a server without a socket, and a fixture holding a service,
// its subscription list (recording every notification instead of calling anybody) and its
// platform registration.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "daemon/TPlatformRegistration.h"
#include "ipc/IIpcServer.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcDispatcher.h"
#include "ipc/TIpcMarshal.h"
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

// A server without a socket: its objects are numbers on a path that does not exist, and Call
// hands a request to the object's dispatcher as the real server would.
class TInProcessServer final : public IIpcServer {
 public:
  std::vector<std::string> objects;
  std::map<std::string, TIpcDispatcher*> dispatchers;

  // IIpcServer
  std::string CreateObject() override {
    objects.push_back(TIpcAddress::Format("/in-process.sock", objects.size() + 1));
    return objects.back();
  }
  uint32_t AddDispatcher(const std::string& address, TIpcDispatcher* dispatcher) override {
    dispatchers[address] = dispatcher;
    TIpcAddress parsed;
    TIpcAddress::Parse(address, parsed);
    return parsed.objectId;
  }
  void RemoveDispatcher(uint32_t objectId, TIpcDispatcher*) override {
    dispatchers.erase(objects.at(objectId - 1));
  }

  template <typename Protocol, auto Operation, typename... A>
  void Call(const std::string& address, A&&... args) {
    constexpr uint16_t number = Protocol::TOperations::template kNumber<Operation>;
    constexpr size_t kPayload = TIpcFrame::kLengthSize + TIpcFrame::kHeaderSize;
    TIpcWriter request;
    TIpcMarshal::EncodeArguments(Operation, request, args...);
    const std::string& call = request.Finish(TIpcFrameKind::eCall, number, 1, 1);
    TIpcReader arguments(call.data() + kPayload, call.size() - kPayload);
    TIpcWriter reply;
    ASSERT_EQ(1u, dispatchers.count(address)) << address;
    ASSERT_TRUE(dispatchers[address]->Dispatch(number, arguments, reply));
    const std::string& answer = reply.Finish(TIpcFrameKind::eReply, 0, 1, 0);
    TIpcReader results(answer.data() + kPayload, answer.size() - kPayload);
    TIpcMarshal::DecodeResults(Operation, results, std::forward<A>(args)...);
  }
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
