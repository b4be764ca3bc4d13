// The real daemon receiving from a management source on 127.0.0.1: infoctl points it at the
// source, infocast-send pushes objects, infoctl reads and watches them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/TUdpSocket.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using namespace integration;

class ManagementDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log();
    for (int& port : ports_) port = TUdpSocket("127.0.0.1", 0).GetPort();
  }
  void TearDown() override { EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log(); }

  std::string Source(int index) const { return "127.0.0.1:" + std::to_string(ports_[index]); }
  TResult Infoctl(const std::vector<std::string>& arguments) { return daemon_.Infoctl(arguments); }
  // Sends the file `name` holding `value` as one object to the source `index`.
  void Push(int index, const std::string& name, const std::string& value) {
    const std::string path = root_.File(name);
    WriteFile(path, value);
    const TResult sent =
        RunProgram(root_, {BinaryPath("infocast-send"), "--type", "1", Source(index), path});
    ASSERT_EQ(0, sent.status) << sent.err;
  }
  // Pushes until the daemon serves the value: the channel may still be opening.
  bool PushUntilServed(int index, const std::string& name, const std::string& value) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      Push(index, name, value);
      const bool served = WaitUntil(
          [&] {
            return Infoctl({"get", name}).out == value + "\n";
          },
          std::chrono::milliseconds(200));
      if (served) return true;
    }
    return false;
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
  int ports_[3] = {0, 0, 0};
};

// Objects arrive from the source and are watched; a new source drops them and the watcher
// sees them go. The source names its successor itself; an address the box cannot bind leaves
// the daemon serving.
TEST_F(ManagementDaemonTest, ObjectsFollowTheSourceWhichMayMoveItself) {
  ASSERT_EQ(0, Infoctl({"set", "cfg.ip.rmtsource", Source(0)}).status);
  ASSERT_TRUE(PushUntilServed(0, "m.one", "hello")) << daemon_.Log();
  const auto watch = daemon_.Watch({"m.*"});
  ASSERT_TRUE(watch->WaitForLines(1)) << watch->Err();
  ASSERT_EQ(0, Infoctl({"set", "cfg.ip.rmtsource", Source(1)}).status);
  ASSERT_TRUE(watch->WaitForLines(2));
  EXPECT_NE(0, Infoctl({"get", "m.one"}).status);
  ASSERT_TRUE(PushUntilServed(1, "m.two", "again"));
  ASSERT_TRUE(watch->WaitForLines(3));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  EXPECT_EQ((std::vector<std::string>{"changed m.one", "removed m.one", "changed m.two"}),
            watch->Lines());

  // Once the client's value is gone, only the source's own one is left to be seen.
  ASSERT_EQ(0, Infoctl({"unset", "cfg.ip.rmtsource"}).status);
  Push(1, "cfg.ip.rmtsource", Source(0));
  ASSERT_TRUE(PushUntilServed(0, "m.moved", "yes")) << daemon_.Log();

  const std::string unbindable = "192.0.2.1:" + std::to_string(ports_[2]);
  ASSERT_EQ(0, Infoctl({"set", "cfg.ip.rmtsource", unbindable}).status);
  EXPECT_TRUE(daemon_.Process().WaitForOutput("TManagementChannel: Could not bind socket"));
  EXPECT_EQ(unbindable + "\n", Infoctl({"get", "cfg.ip.rmtsource"}).out);
}

}  // namespace
