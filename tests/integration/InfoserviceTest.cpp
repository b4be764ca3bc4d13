// The daemon process itself: its command line, the hang-up stop, and start-up in platform
// mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "os/TEpollEventLoop.h"
#include "tests/integration/DaemonFixture.h"
#include "toi/IToiInformationObserver.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace integration {
namespace {

class InfoserviceTest : public ::testing::Test {
 protected:
  TTempRoot root_;
  TDaemon daemon_{root_};
};

// What the usage text says is the command line parser's business; here, the exit codes.
TEST_F(InfoserviceTest, HelpExitsWith0AndABadOptionWith1) {
  const TResult help = RunProgram(root_, {BinaryPath("infoservice"), "-h"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.err.find("Usage: " + BinaryPath("infoservice") + " [<options>]\n"));
  const TResult wrong = RunProgram(root_, {BinaryPath("infoservice"), "-s", "-q"});
  EXPECT_EQ(1, wrong.status);
  EXPECT_NE(std::string::npos, wrong.err.find("Usage: ")) << wrong.err;
}

TEST_F(InfoserviceTest, ServesItsAddressAndShutsDownOnHangUpWithExit0) {
  ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log();
  const std::string address = daemon_.Address();
  EXPECT_EQ(std::string::npos, address.find('\n'));
  EXPECT_EQ(0, daemon_.Infoctl({"set", "-v", "a.b", "c"}).status);
  EXPECT_EQ(0, daemon_.Stop());
  const std::string log = daemon_.Log();
  EXPECT_NE(std::string::npos, log.find("Starting service")) << log;
  EXPECT_NE(std::string::npos, log.find("Information Service address: " + address)) << log;
  EXPECT_NE(std::string::npos, log.find("Shutting down")) << log;
}

// Platform mode traces to the system log, so what the daemon did is read from the calls the
// simulator logged instead.
class InfoservicePlatformTest : public InfoserviceTest {
 protected:
  void SetUp() override { ASSERT_TRUE(simulator_.Started()) << simulator_.Log(); }

  TEnvironment PlatformEnvironment() const {
    return {{"SERVICE_ID", "42"}, {"NAMESERVICE_ADDRESS", simulator_.Address()}};
  }

  TPlatformSimulator simulator_{root_};
};

// Counts the notifications of one subscriber.
class TCountingObserver final : public IToiInformationObserver {
 public:
  void OnObjectsChanged(const TStringList& names) override { count += names.size(); }
  void OnObjectsRemoved(const TStringList& names) override { count += names.size(); }
  size_t count = 0;
};

TEST_F(InfoservicePlatformTest, RegistersAnswersPingsAndFollowsInstanceStates) {
  // The service id is read as its leading digits.
  TEnvironment platform = PlatformEnvironment();
  platform["SERVICE_ID"] = "42x";
  ASSERT_TRUE(daemon_.Start({"-t"}, platform)) << daemon_.Log();
  ASSERT_TRUE(simulator_.WaitForLog("call RegisterService ")) << simulator_.Log();
  const std::string log = simulator_.Log();
  const size_t registered = log.find("call RegisterObject InformationService " + daemon_.Address());
  const size_t component = log.find("call RegisterComponent 42 ipc:");
  const size_t observer = log.find("call RegisterService ipc:");
  ASSERT_NE(std::string::npos, registered) << log;
  ASSERT_NE(std::string::npos, component) << log;
  EXPECT_LT(registered, component);
  EXPECT_LT(component, observer);

  // infoctl finds the daemon through the name service.
  TEnvironment environment = daemon_.Environment();
  environment["NAMESERVICE_ADDRESS"] = simulator_.Address();
  const std::string infoctl = BinaryPath("infoctl");
  ASSERT_EQ(0, RunProgram(root_, {infoctl, "set", "-v", "plat.x", "1"}, environment).status);
  EXPECT_EQ("1\n", RunProgram(root_, {infoctl, "get", "plat.x"}, environment).out);

  simulator_.Process().Send("ping");
  EXPECT_TRUE(simulator_.WaitForLog("call ReportPing 42")) << simulator_.Log();
  simulator_.Process().Send("unload 1");
  EXPECT_TRUE(simulator_.WaitForLog("call UnloadDone 42")) << simulator_.Log();

  // Instance 5 and instance 6 subscribe through two objects of one server of the test, so their
  // notifications share a connection and arrive in the order the daemon sent them. Instance 5
  // then ends (state 7), instance 6 starts (3).
  TEpollEventLoop loop;
  TIpcServer server(loop);
  TCountingObserver first;
  TCountingObserver second;
  const std::string firstAddress = server.CreateObject();
  const std::string secondAddress = server.CreateObject();
  TToiInformationObserverDispatcher one(server, firstAddress, first);
  TToiInformationObserverDispatcher two(server, secondAddress, second);
  auto secondReaches = [&](size_t count) {
    for (int pass = 0; pass < 100 && second.count < count; ++pass) loop.RunOnce(100);
    return second.count == count;
  };
  TIpcClient client;
  TInformationServiceCaller service(&client, daemon_.Address());
  service.SubscribeObject2("plat.*", 5, firstAddress, false);
  service.SubscribeObject2("plat.*", 6, secondAddress, false);
  service.SetObject("plat.x", "2", IToiInformationService::eVolatile);
  ASSERT_TRUE(secondReaches(1));
  EXPECT_EQ(1u, first.count);

  simulator_.Process().Send("state 5:7,6:3");
  ASSERT_TRUE(simulator_.WaitForLog("call StartInstance 6")) << simulator_.Log();
  const std::string states = simulator_.Log();
  EXPECT_LT(states.find("call ReleaseInstance 5"), states.find("call StartInstance 6"));
  service.SetObject("plat.x", "3", IToiInformationService::eVolatile);
  // Instance 5's notification would have come before instance 6's.
  ASSERT_TRUE(secondReaches(2));
  EXPECT_EQ(1u, first.count);
  service.UnsubscribeAllObjects(secondAddress);

  EXPECT_EQ(0, daemon_.Stop());
}

TEST_F(InfoservicePlatformTest, MissingServiceIdAbortsBeforeRegistrationAndAdapters) {
  TEnvironment environment = PlatformEnvironment();
  environment["SERVICE_ID"] = "";
  // The adapters initialise only after the registration, which the simulator would log.
  daemon_.Start({"-t", "-d", root_.File("no-defaults.xml")}, environment);
  EXPECT_EQ(128 + SIGABRT, daemon_.Process().Wait());
  const std::string log = simulator_.Log();
  EXPECT_EQ(std::string::npos, log.find("call ")) << log;
}

}  // namespace
}  // namespace integration
