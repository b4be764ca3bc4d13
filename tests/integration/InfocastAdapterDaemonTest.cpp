// The Infocast adapter in the real daemon, fed by infocast-send as a head-end would: both run
// inside a network namespace this test creates (multicast routed on a veth end inside it,
// TTL 0, so nothing leaves it) and deletes. infoctl talks to the daemon over its Unix socket,
// which the namespace does not hide. Without the rights to create one the test skips.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "tests/integration/DaemonFixture.h"

namespace {

using integration::BinaryPath;
using integration::TProcess;
using integration::TResult;
using integration::WaitUntil;

constexpr const char* kMeta = "239.7.8.1:47100";
constexpr const char* kMoved = "239.7.8.3:47102";
constexpr const char* kData = "239.7.8.2:47101";

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class TNamespace final {
 public:
  TNamespace() : name_("isad" + std::to_string(getpid())) {
    const std::string peer = "via" + std::to_string(getpid());
    ok_ = Shell("ip netns add " + name_) &&
          Shell("ip link add " + peer + " type veth peer name eth0 netns " + name_) &&
          Shell("ip -n " + name_ + " link set lo up") &&
          Shell("ip -n " + name_ + " link set eth0 up") &&
          Shell("ip -n " + name_ + " addr add 169.254.78.2/24 dev eth0") &&
          Shell("ip link set " + peer + " up") &&
          Shell("ip -n " + name_ + " route add 224.0.0.0/4 dev eth0");
  }
  ~TNamespace() { Shell("ip netns del " + name_); }
  bool Ok() const { return ok_; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  bool ok_ = false;
};

class InfocastAdapterDaemonTest : public ::testing::Test {
 protected:
  // The value without the line feed infoctl ends it with.
  std::string Get(const std::string& name) const {
    const TResult result = daemon_.Infoctl({"get", name});
    return result.status != 0 ? "<none>" : result.out.substr(0, result.out.size() - 1);
  }
  // One object from a file, sent from inside the namespace.
  bool Send(const std::string& destination, const std::string& name, const std::string& value,
            const std::string& options = "") {
    test::WriteFile(root_.File("send-value"), value);
    return Shell("ip netns exec " + ns_.Name() + " " + BinaryPath("infocast-send") +
                 " --ttl 0 --name " + name + " " + options + " " + destination + " " +
                 root_.File("send-value"));
  }
  // Sends until the daemon shows the expected value; the daemon may still be joining.
  bool SendUntil(const std::string& destination, const std::string& name, const std::string& value,
                 const std::string& check, const std::string& expected,
                 const std::string& options = "") {
    return WaitUntil([&] {
      Send(destination, name, value, options);
      return Get(check) == expected;
    });
  }

  TNamespace ns_;
  integration::TTempRoot root_;
  integration::TDaemon daemon_{root_};  // only its infoctl: the daemon runs in the namespace
};

TEST_F(InfocastAdapterDaemonTest, HeadEndConfiguresChannelsAndObjectsOfTheDaemon) {
  if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
  if (!ns_.Ok()) GTEST_SKIP() << "ip netns add (or the veth pair in it) is not possible here";
  const std::string addressFile = root_.File("metachannel");
  TProcess daemon(root_,
                  {"/usr/bin/env", "ip", "netns", "exec", ns_.Name(), BinaryPath("infoservice"),
                   "-s", "-t", "-i", daemon_.AddressFile(), "-m", kMeta, "-e", addressFile},
                  daemon_.Environment());
  ASSERT_TRUE(WaitUntil([&] { return !daemon_.Address().empty(); })) << daemon.Err();

  const std::string root =
      "<Infocast><Channel address=\"239.7.8.2\" port=\"47101\" connection=\"Persistent\">"
      "<Object name=\"cfg.e2e.pre\" fetch=\"Prefetch\"/>"
      "<Object name=\"var.e2e.req\" fetch=\"OnRequest\" countref=\"true\"/>"
      "<Object name=\"var.e2e.timed\" fetch=\"Prefetch\"/></Channel></Infocast>";
  ASSERT_TRUE(SendUntil(kMeta, "infocast2.conf", root, "_metachannel.infocast2.conf", root))
      << daemon.Err();
  // Three datagrams: joined again on arrival.
  const std::string big(3000, 'e');
  ASSERT_TRUE(SendUntil(kData, "cfg.e2e.pre", big, "cfg.e2e.pre", big)) << daemon.Err();

  // A watch sees the prefetch object change.
  const auto watch = daemon_.Watch({"cfg.e2e.pre"});
  ASSERT_TRUE(watch->WaitForOutput("cfg.e2e.pre"));
  ASSERT_TRUE(SendUntil(kData, "cfg.e2e.pre", "two", "cfg.e2e.pre", "two"));
  EXPECT_TRUE(watch->WaitForLines(2));

  // On request: not taken while nobody subscribes exactly, taken while a watch does, gone
  // when the watch ends.
  Send(kData, "var.e2e.req", "news");
  Send(kData, "cfg.e2e.pre", "two");  // sent after it: the request was received and dropped
  EXPECT_EQ("<none>", Get("var.e2e.req"));
  {
    const auto request = daemon_.Watch({"var.e2e.req"});
    EXPECT_TRUE(SendUntil(kData, "var.e2e.req", "news", "var.e2e.req", "news"));
    EXPECT_TRUE(request->WaitForOutput("changed var.e2e.req"));
  }
  EXPECT_TRUE(WaitUntil([&] { return Get("var.e2e.req") == "<none>"; }));

  // A time filter: present inside its window, withdrawn once a datagram finds it expired.
  const long now = static_cast<long>(time(nullptr));
  const std::string window =
      "--time-filter " + std::to_string(now - 60) + "-" + std::to_string(now + 2);
  EXPECT_TRUE(SendUntil(kData, "var.e2e.timed", "soon over", "var.e2e.timed", "soon over", window));
  EXPECT_TRUE(SendUntil(kData, "var.e2e.timed", "soon over", "var.e2e.timed", "<none>", window));

  // A new address in the -e file moves the daemon to another meta channel.
  test::WriteFile(addressFile, kMoved);
  EXPECT_TRUE(WaitUntil([&] { return Get("var.ip.metachannel") == kMoved; }));
  EXPECT_TRUE(SendUntil(kMoved, "infocast2.conf", root, "_metachannel.infocast2.conf", root));
  EXPECT_TRUE(SendUntil(kData, "cfg.e2e.pre", "three", "cfg.e2e.pre", "three"));

  daemon.Signal(SIGHUP);
  EXPECT_EQ(0, daemon.Wait());
}

}  // namespace
