// Starts the real platform-simulator and plays a component and an application observer
// against it: registration, the life-cycle calls it makes on command, and its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TException.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "tests/integration/DaemonFixture.h"
#include "toi/IPlatformComponent.h"
#include "toi/IToiApplicationObserver.h"
#include "toi/TApplicationServiceCaller.h"
#include "toi/TNameServiceCaller.h"
#include "toi/TPlatformComponentDispatcher.h"
#include "toi/TPlatformServiceCaller.h"
#include "toi/TToiApplicationObserverDispatcher.h"

namespace integration {
namespace {

class TRecordingComponent final : public IPlatformComponent, public IToiApplicationObserver {
 public:
  std::vector<std::string> calls;
  void OnLoad() override { calls.push_back("OnLoad"); }
  void OnUnload(bool flag) override { calls.push_back(flag ? "OnUnload 1" : "OnUnload 0"); }
  void OnStandbyChanged() override { calls.push_back("OnStandbyChanged"); }
  void Ping() override { calls.push_back("Ping"); }
  void OnStateChanged(const TApplicationStateInfoList& infos) override {
    std::string text = "OnStateChanged";
    for (const auto& info : infos) {
      text += " " + std::to_string(info.instanceId) + ":" + std::to_string(info.state);
    }
    calls.push_back(text);
  }
};

TEST(PlatformSimulatorTest, ServesRegistrationAndCallsRegisteredComponentOnCommand) {
  TTempRoot root;
  TPlatformSimulator simulator(root);
  ASSERT_TRUE(simulator.Started()) << simulator.Log();
  const std::string nameService = simulator.Address();
  // The address file comes first and the log line after it: wait for the line, a slow machine
  // (an emulated one) may not have written it yet.
  EXPECT_TRUE(simulator.WaitForLog("NAMESERVICE_ADDRESS=" + nameService + "\n")) << simulator.Log();
  EXPECT_TRUE(TCIpcClient_ValidateAddress(nameService));

  TEpollEventLoop loop;
  TIpcClient client(loop);
  TIpcServer server(loop);
  TRecordingComponent component;
  const std::string componentAddress = server.CreateObject();
  const std::string observerAddress = server.CreateObject();
  TPlatformComponentDispatcher componentDispatcher(server, componentAddress, component);
  TToiApplicationObserverDispatcher observerDispatcher(server, observerAddress, component);

  TNameServiceCaller names(&client, nameService);
  std::string platformAddress;
  std::string applicationAddress;
  names.LookupObject("PlatformService", platformAddress);
  names.LookupObject("ApplicationService", applicationAddress);
  try {
    std::string ignored;
    names.LookupObject("NoSuchService", ignored);
    FAIL() << "no exception";
  } catch (const TRemoteException& error) {
    EXPECT_EQ(error.GetCode(), 201);
  }
  names.RegisterObject("InformationService", componentAddress);
  TPlatformServiceCaller platform(&client, platformAddress);
  TApplicationServiceCaller application(&client, applicationAddress);
  platform.RegisterComponent(12, componentAddress);
  application.RegisterService(observerAddress);
  EXPECT_TRUE(simulator.WaitForLog("call RegisterService " + observerAddress));

  for (const char* command : {"ping", "unload 1", "state 5:7,6:3"}) {
    simulator.Process().Send(command);
  }
  for (int pass = 0; pass < 100 && component.calls.size() < 3; ++pass) loop.RunOnce(100);
  EXPECT_EQ(component.calls,
            (std::vector<std::string>{"Ping", "OnUnload 1", "OnStateChanged 5:7 6:3"}));

  platform.ReportPing(12);
  platform.UnloadDone(12);
  application.StartInstance(6);
  application.ReleaseInstance(5);
  for (const char* call :
       {"ReportPing 12", "UnloadDone 12", "StartInstance 6", "ReleaseInstance 5"}) {
    EXPECT_TRUE(simulator.WaitForLog(std::string("call ") + call)) << simulator.Log();
  }
  simulator.Process().Send("quit");
  EXPECT_EQ(simulator.Process().Wait(), 0);
}

}  // namespace
}  // namespace integration
