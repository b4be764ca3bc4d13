// The Infocast adapter in the real daemon, fed by infocast-send as a head-end would: both run
// inside a network namespace this test creates (multicast routed on a veth end inside it,
// TTL 0, so nothing leaves it) and deletes; infoctl reaches the daemon over its Unix socket.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr const char* kMeta = "239.7.8.1:47100";
constexpr const char* kMoved = "239.7.8.3:47102";
constexpr const char* kData = "239.7.8.2:47101";

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class InfocastAdapterDaemonTest : public TDaemonTest {
 protected:
  void SetUp() override {
    TDaemonTest::SetUp();
    if (IsSkipped()) return;
    if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    const std::string peer = "via" + std::to_string(getpid()), in = " && ip -n " + ns_;
    created_ = Shell("ip netns add " + ns_);
    if (!created_ || !Shell("ip link add " + peer + " type veth peer name eth0 netns " + ns_ +
                            in + " link set lo up" + in + " link set eth0 up" + in +
                            " addr add 169.254.78.2/24 dev eth0 && ip link set " + peer + " up" +
                            in + " route add 224.0.0.0/4 dev eth0")) {
      GTEST_SKIP() << "ip netns add (or the veth pair in it) is not possible here";
    }
  }
  void TearDown() override {
    if (created_) Shell("ip netns del " + ns_);
  }
  // One object from a file, sent from inside the namespace.
  void Send(const std::string& destination, const std::string& name, const std::string& value,
            const std::string& options = "") {
    WriteFile(root_.File("send-value"), value);
    Shell("ip netns exec " + ns_ + " " + BinaryPath("infocast-send") + " --ttl 0 --name " + name +
          " " + options + " " + destination + " " + root_.File("send-value"));
  }
  // Sends until `check` (the object sent by default) reads `expected` (the value sent by
  // default); the daemon may still be joining.
  bool SendUntil(const std::string& destination, const std::string& name, const std::string& value,
                 const std::string& options = "", std::string expected = "",
                 std::string check = "") {
    if (check.empty()) check = name;
    if (expected.empty()) expected = value;
    return WaitUntil([&] {
      Send(destination, name, value, options);
      return daemon_.Get(check) == expected;
    });
  }

  std::string ns_ = "isad" + std::to_string(getpid());
  bool created_ = false;
};

TEST_F(InfocastAdapterDaemonTest, HeadEndConfiguresChannelsAndObjectsOfTheDaemon) {
  const std::string addressFile = root_.File("metachannel");
  ASSERT_TRUE(daemon_.StartStandalone({"-m", kMeta, "-e", addressFile},
                                      {"/usr/bin/env", "ip", "netns", "exec", ns_}))
      << daemon_.Log();
  const std::string root =
      "<Infocast><Channel address=\"239.7.8.2\" port=\"47101\" connection=\"Persistent\">"
      "<Object name=\"cfg.e2e.pre\" fetch=\"Prefetch\"/>"
      "<Object name=\"var.e2e.req\" fetch=\"OnRequest\" countref=\"true\"/>"
      "<Object name=\"var.e2e.timed\" fetch=\"Prefetch\"/></Channel></Infocast>";
  ASSERT_TRUE(SendUntil(kMeta, "infocast2.conf", root, "", root, "_metachannel.infocast2.conf"))
      << daemon_.Log();
  // Three datagrams: joined again on arrival. A watch sees the prefetch object change.
  ASSERT_TRUE(SendUntil(kData, "cfg.e2e.pre", std::string(3000, 'e'))) << daemon_.Log();
  const auto watch = daemon_.Watch({"cfg.e2e.pre"});
  ASSERT_TRUE(watch->WaitForOutput("cfg.e2e.pre"));
  ASSERT_TRUE(SendUntil(kData, "cfg.e2e.pre", "two"));
  EXPECT_TRUE(watch->WaitForLines(2));

  // On request: not taken while nobody subscribes exactly, taken while a watch does, gone
  // when the watch ends.
  Send(kData, "var.e2e.req", "news");
  Send(kData, "cfg.e2e.pre", "two");  // sent after it: the request was received and dropped
  EXPECT_EQ("<none>", daemon_.Get("var.e2e.req"));
  {
    const auto request = daemon_.Watch({"var.e2e.req"});
    EXPECT_TRUE(SendUntil(kData, "var.e2e.req", "news"));
    EXPECT_TRUE(request->WaitForOutput("changed var.e2e.req"));
  }
  EXPECT_TRUE(WaitUntil([&] { return daemon_.Get("var.e2e.req") == "<none>"; }));

  // A time filter: present inside its window, withdrawn once a datagram finds it expired.
  const long now = static_cast<long>(time(nullptr));
  const std::string window =
      "--time-filter " + std::to_string(now - 60) + "-" + std::to_string(now + 2);
  EXPECT_TRUE(SendUntil(kData, "var.e2e.timed", "soon over", window));
  EXPECT_TRUE(SendUntil(kData, "var.e2e.timed", "soon over", window, "<none>"));

  // A new address in the -e file moves the daemon to another meta channel.
  WriteFile(addressFile, kMoved);
  EXPECT_TRUE(WaitUntil([&] { return daemon_.Get("var.ip.metachannel") == kMoved; }));
  EXPECT_TRUE(SendUntil(kMoved, "infocast2.conf", root, "", root, "_metachannel.infocast2.conf"));
  EXPECT_TRUE(SendUntil(kData, "cfg.e2e.pre", "three"));
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration
