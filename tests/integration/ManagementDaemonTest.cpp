// The real daemon receiving from a management source on 127.0.0.1: infoctl points it at the
// source, infocast-send pushes objects, infoctl reads and watches them.
#include <gtest/gtest.h>

#include "os/TUdpSocket.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

// Objects arrive from the source and are watched; a new source drops them and the watcher
// sees them go. The source names its successor itself; an address the box cannot bind leaves
// the daemon serving.
TEST(ManagementDaemonTest, ObjectsFollowTheSourceWhichMayMoveItself) {
  TTempRoot root;
  TDaemon daemon(root);
  ASSERT_TRUE(daemon.StartStandalone()) << daemon.Log();
  std::string sources[3];
  for (std::string& s : sources) s = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  auto source = [&](int index) { return "127.0.0.1:" + sources[index]; };
  auto push = [&](int index, const std::string& name, const std::string& value) {
    WriteFile(root.File(name), value);
    return RunProgram(root, {BinaryPath("infocast-send"), "--type", "1", source(index),
                             root.File(name)}).status == 0;
  };
  // Pushes until the daemon serves the value: the channel may still be opening.
  auto pushUntilServed = [&](int index, const std::string& name, const std::string& value) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (push(index, name, value) &&
          WaitUntil([&] { return daemon.Get(name) == value; }, std::chrono::milliseconds(200))) {
        return true;
      }
    }
    return false;
  };
  ASSERT_EQ(0, daemon.Infoctl({"set", "cfg.ip.rmtsource", source(0)}).status);
  ASSERT_TRUE(pushUntilServed(0, "m.one", "hello")) << daemon.Log();
  const auto watch = daemon.Watch({"m.*"});
  ASSERT_TRUE(watch->WaitForLines(1)) << watch->Err();
  ASSERT_EQ(0, daemon.Infoctl({"set", "cfg.ip.rmtsource", source(1)}).status);
  ASSERT_TRUE(watch->WaitForLines(2));
  EXPECT_EQ("<none>", daemon.Get("m.one"));
  ASSERT_TRUE(pushUntilServed(1, "m.two", "again"));
  ASSERT_TRUE(watch->WaitForLines(3));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  EXPECT_EQ((TArgs{"changed m.one", "removed m.one", "changed m.two"}), watch->Lines());

  // Once the client's value is gone, only the source's own one is left to be seen.
  ASSERT_EQ(0, daemon.Infoctl({"unset", "cfg.ip.rmtsource"}).status);
  ASSERT_TRUE(push(1, "cfg.ip.rmtsource", source(0)));
  ASSERT_TRUE(pushUntilServed(0, "m.moved", "yes")) << daemon.Log();

  const std::string unbindable = "192.0.2.1:" + sources[2];
  ASSERT_EQ(0, daemon.Infoctl({"set", "cfg.ip.rmtsource", unbindable}).status);
  EXPECT_TRUE(daemon.Process().WaitForOutput("TManagementChannel: Could not bind socket"));
  EXPECT_EQ(unbindable, daemon.Get("cfg.ip.rmtsource"));
  EXPECT_EQ(0, daemon.Stop()) << daemon.Log();
}

}  // namespace
}  // namespace integration
