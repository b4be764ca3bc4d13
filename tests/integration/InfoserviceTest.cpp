// The daemon process itself: its command line, the hang-up stop, and start-up in platform
// mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

class InfoserviceTest : public ::testing::Test {
 protected:
  TResult RunDaemon(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {BinaryPath("infoservice")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(root_, argv, {{"INFOSERVICE_ROOT", root_.Path()}});
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
};

TEST_F(InfoserviceTest, HelpExitsWith0AndBadOptionsWith1) {
  const TResult help = RunDaemon({"-h"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(0u, help.err.find("Usage: " + BinaryPath("infoservice") + " [<options>]\n"))
      << help.err;
  EXPECT_NE(std::string::npos, help.err.find("  -o  opch mode\n"));

  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"-x"}, {"-s", "-i"}, {"-s", "-q", "-t"}}) {
    const TResult result = RunDaemon(wrong);
    EXPECT_EQ(1, result.status) << wrong.back();
    EXPECT_NE(std::string::npos, result.err.find("Usage: ")) << result.err;
  }
}

TEST_F(InfoserviceTest, HangUpShutsDownWithExit0) {
  ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log();
  EXPECT_EQ(0, daemon_.Infoctl({"set", "-v", "a.b", "c"}).status);
  EXPECT_EQ(0, daemon_.Stop());
  const std::string log = daemon_.Log();
  EXPECT_NE(std::string::npos, log.find("Starting service")) << log;
  EXPECT_NE(std::string::npos, log.find("Shutting down")) << log;
}

TEST_F(InfoserviceTest, AddressFileHoldsExactlyTheAddress) {
  ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log();
  const std::string address = daemon_.Address();
  EXPECT_EQ(std::string::npos, address.find('\n'));
  EXPECT_NE(std::string::npos, daemon_.Log().find("Information Service address: " + address));
  EXPECT_EQ(0, daemon_.Stop());
}

TEST_F(InfoserviceTest, MissingServiceIdAbortsBeforeAnyAdapterInitialises) {
  // A defaults file that does not exist stops the daemon as soon as the defaults adapter
  // initialises; that trace must never appear when the service id is missing.
  ASSERT_FALSE(daemon_.Start({"-t", "-d", root_.File("no-defaults.xml")},
                             {{"NAMESERVICE_ADDRESS", "unused"}}));
  EXPECT_EQ(128 + SIGABRT, daemon_.Process().Wait());
  const std::string log = daemon_.Log();
  EXPECT_NE(std::string::npos, log.find("SERVICE_ID is not set")) << log;
  EXPECT_EQ(std::string::npos, log.find("TDefaultAdapter")) << log;
}

}  // namespace
}  // namespace integration
