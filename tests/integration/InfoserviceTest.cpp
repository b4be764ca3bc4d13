// The daemon process itself: its exit codes, the orderly stop by each stop signal with changes
// still waiting for their write delay, and start-up in platform mode.
#include <gtest/gtest.h>

#include "ipc/TIpcAddress.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

class InfoserviceTest : public ::testing::Test {
 protected:
  TTempRoot root_;
  TDaemon daemon_{root_};
};

// A box's init stops with SIGTERM, a person with Ctrl-C, the platform with SIGHUP: each must
// flush the settings (to the backup file, as the write delay has not passed) and the flash
// user area, and take the socket away. Each round's values are read back by the next start.
TEST_F(InfoserviceTest, EveryStopSignalKeepsPendingWritesAndRemovesTheSocket) {
  EXPECT_EQ(0, RunProgram(root_, {BinaryPath("infoservice"), "-h"}).status);
  EXPECT_EQ(1, RunProgram(root_, {BinaryPath("infoservice"), "-s", "-q"}).status);
  root_.AddHal();
  const TArgs options = {"-s", "-f", root_.File("settings.xml"), "-g", root_.File("settings.bak"),
                         "-y", "3600"};
  const std::pair<int, const char*> rounds[] = {
      {SIGTERM, "Video"}, {SIGINT, "S-Video"}, {SIGHUP, "RGB"}, {0, nullptr}};
  std::string previous;
  for (const auto& [stop, output] : rounds) {
    SCOPED_TRACE(stop);
    ASSERT_TRUE(daemon_.Start(options)) << daemon_.Log();
    if (!previous.empty()) {
      EXPECT_EQ(previous, daemon_.Get("cfg.media.tv.output"));
      EXPECT_EQ(previous, daemon_.Get("cfg.shutdown.test"));
    }
    if (stop == 0) break;
    ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.media.tv.output", output, "cfg.shutdown.test",
                                  output}).status);
    TIpcAddress address;
    ASSERT_TRUE(TIpcAddress::Parse(daemon_.Address(), address));
    daemon_.Process().Signal(stop);
    EXPECT_EQ(0, daemon_.Process().Wait()) << daemon_.Log();
    EXPECT_FALSE(FileExists(address.socketPath));
    previous = output;
  }
}

// Platform mode traces to the system log, so what the daemon did is read from the calls the
// platform simulator logged, one line each; it takes commands on its standard input.
TEST_F(InfoserviceTest, PlatformModeRegistersAnswersPingsAndFollowsInstanceStates) {
  const std::string names = root_.File("nameservice.address");
  TProcess simulator(root_, {BinaryPath("platform-simulator"), "-a", names},
                     daemon_.Environment(), true);
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(names).empty(); })) << simulator.Log();
  // The service id is read as its leading digits.
  ASSERT_TRUE(daemon_.Start({"-t"}, {{"SERVICE_ID", "42x"}, {"NAMESERVICE_ADDRESS", ReadFile(names)}}))
      << daemon_.Log();
  ASSERT_TRUE(simulator.WaitForOutput("call RegisterService ")) << simulator.Log();
  const std::string log = simulator.Log();
  const size_t registered = log.find("call RegisterObject InformationService " + daemon_.Address());
  const size_t component = log.find("call RegisterComponent 42 ipc:");
  ASSERT_NE(std::string::npos, registered) << log;
  ASSERT_NE(std::string::npos, component) << log;
  EXPECT_LT(registered, component);
  EXPECT_LT(component, log.find("call RegisterService ipc:"));

  // infoctl finds the daemon through the name service.
  TEnvironment environment = daemon_.Environment();
  environment["NAMESERVICE_ADDRESS"] = ReadFile(names);
  const std::string infoctl = BinaryPath("infoctl");
  ASSERT_EQ(0, RunProgram(root_, {infoctl, "set", "-v", "plat.x", "1"}, environment).status);
  EXPECT_EQ("1\n", RunProgram(root_, {infoctl, "get", "plat.x"}, environment).out);

  simulator.Send("ping");
  EXPECT_TRUE(simulator.WaitForOutput("call ReportPing 42")) << simulator.Log();
  simulator.Send("unload 1");
  EXPECT_TRUE(simulator.WaitForOutput("call UnloadDone 42")) << simulator.Log();
  // The daemon's observer object is reached: an ended instance is released, a started one
  // started (what an ended instance loses is TPlatformRegistration's test).
  simulator.Send("state 5:7,6:3");
  ASSERT_TRUE(simulator.WaitForOutput("call StartInstance 6")) << simulator.Log();
  const std::string states = simulator.Log();
  EXPECT_LT(states.find("call ReleaseInstance 5"), states.find("call StartInstance 6"));
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration
