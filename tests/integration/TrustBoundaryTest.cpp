// The trust boundary, with clients as uid 65534 in the daemon's group (as an application on a
// box): the caller's rights for files, the access policy, one user's bounded share. Overload:
// neither too many connections nor bad datagrams make the daemon spin or log at their rate.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ipc/TIpcAddress.h"
#include "os/TUdpSocket.h"
#include "os/TUniqueFd.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr uid_t kOtherUid = 65534;

class TrustBoundaryTest : public TDaemonTest {
 protected:
  void SetUp() override {
    TDaemonTest::SetUp();
    if (IsSkipped()) return;
    if (geteuid() != 0 || access(other_[0].c_str(), X_OK) != 0) {
      GTEST_SKIP() << "needs root and setpriv to run clients as uid " << kOtherUid;
    }
    chmod(root_.Path().c_str(), 0755);  // mkdtemp made it 0700
  }
  TResult AsOther(const TArgs& arguments) const { return daemon_.Infoctl(arguments, other_); }
  std::string File(const std::string& name, const std::string& content, mode_t mode,
                   uid_t owner = 0) const {
    const std::string path = root_.Write(name, content);
    EXPECT_EQ(0, chmod(path.c_str(), mode) | chown(path.c_str(), owner, getegid())) << path;
    return path;
  }

  // uid 65534 with the daemon's group and no other group
  const TArgs other_ = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kOtherUid),
                        "--regid=" + std::to_string(getegid()), "--clear-groups"};
};

TEST_F(TrustBoundaryTest, FilesAreOpenedWithTheCallersRights) {
  const std::string secret = File("secret", "root only", 0600);
  const std::string victim = File("victim", "keep", 0644);
  const std::string own = File("own", "mine", 0600, kOtherUid);
  const std::string ownOut = File("own-out", "", 0600, kOtherUid);
  ASSERT_TRUE(daemon_.StartStandalone());
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.v", "hello"}).status);

  // Neither a root-only file read into an object nor a root-owned file overwritten.
  const TResult leak = AsOther({"set-from-file", "-v", "var.leak", secret});
  EXPECT_EQ(1, leak.status);
  EXPECT_NE(std::string::npos, leak.err.find("error 207")) << leak.err;
  EXPECT_EQ("<none>", daemon_.Get("var.leak"));
  EXPECT_EQ(1, AsOther({"get-to-file", "var.v", victim}).status);
  EXPECT_EQ("keep", ReadFile(victim));

  // Its own files keep working, and so do root's rights.
  EXPECT_EQ(0, AsOther({"set-from-file", "-v", "var.own", own}).status);
  EXPECT_EQ("mine", daemon_.Get("var.own"));
  EXPECT_EQ(0, AsOther({"get-to-file", "var.v", ownOut}).status);
  EXPECT_EQ("hello", ReadFile(ownOut));
  EXPECT_EQ(0, daemon_.Infoctl({"set-from-file", "-v", "var.root", secret}).status);
  EXPECT_EQ(0, daemon_.Infoctl({"get-to-file", "var.v", victim}).status);
  EXPECT_EQ("hello", ReadFile(victim));
}

TEST_F(TrustBoundaryTest, PolicyDecidesReadsWritesAndSubscriptions) {
  const std::string policy = root_.Write(
      "policy",
      "# network settings: everybody reads and watches, nobody but root writes\n"
      "cfg.ip.*    rs   *\ncfg.hidden  -    *\ncfg.*       rws  uid:65534\n"
      "app.*       rw   uid:65534   # app.alias is served as cfg.ip.addr\n");
  const std::string aliases = root_.Write(
      "aliases.xml", "<Objects><Object><Name>app.alias</Name><Alias>cfg.ip.addr</Alias></Object>"
                     "</Objects>\n");
  ASSERT_TRUE(daemon_.StartStandalone({"-p", policy, "-a", aliases})) << daemon_.Log();
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "cfg.ip.addr", "1", "cfg.hidden", "1", "cfg.open",
                                "1", "var.x", "1"}).status);
  const std::pair<TArgs, bool> cases[] = {
      {{"get", "cfg.ip.addr"}, true},
      {{"set", "-v", "cfg.ip.addr", "x"}, false},  // r and s only
      {{"get", "cfg.hidden"}, false},              // the earlier line decides
      {{"set", "-v", "cfg.open", "2"}, true},
      {{"get", "var.x"}, false},                 // no line
      {{"get", "app.alias"}, true},              // app.* and cfg.ip.* both allow r
      {{"set", "-v", "app.alias", "x"}, false},  // cfg.ip.* does not allow w
      {{"watch", "-n", "*"}, false},             // no line covers everything
      {{"unset", "-v", "cfg.hidden"}, false},
  };
  for (const auto& [arguments, allowed] : cases) {
    const TResult result = AsOther(arguments);
    EXPECT_EQ(allowed ? 0 : 1, result.status) << arguments[0] << " " << arguments.back();
    EXPECT_EQ(!allowed, result.err.find("error 203") != std::string::npos) << result.err;
  }
  const TResult dump = AsOther({"dump", "cfg.*"});
  EXPECT_NE(std::string::npos, dump.out.find("cfg.ip.addr=1\ncfg.open=2\n")) << dump.err;
  EXPECT_EQ(std::string::npos, dump.out.find("cfg.hidden"));

  // Notifications carry only what the subscriber may read.
  const auto watcher = daemon_.Watch({"-n", "cfg.*"}, other_);
  int round = 0;
  ASSERT_TRUE(WaitUntil([&] {
    daemon_.Infoctl({"set", "-v", "cfg.hidden", std::to_string(++round)});
    return daemon_.Infoctl({"set", "-v", "cfg.open", std::to_string(round)}).status == 0 &&
           watcher->Out().find("changed cfg.open") != std::string::npos;
  })) << watcher->Err();
  EXPECT_EQ(std::string::npos, watcher->Out().find("cfg.hidden"));
  EXPECT_EQ(0, daemon_.Infoctl({"set", "-v", "cfg.ip.addr", "2"}).status);  // root
}

using TrustBoundaryPolicyFileTest = TDaemonTest;

TEST_F(TrustBoundaryPolicyFileTest, UnusablePolicyStopsTheDaemonNamingFileAndLine) {
  const std::string path = root_.File("policy");
  const std::pair<const char*, const char*> cases[] = {
      {nullptr, "policy"},  // no file at all
      {"cfg.* rx *\n", "line 1"},
      {"# fine\ncfg.* r *\ncfg.* r\n", "line 3"},
      {"cfg.* r user:no-such-user-here\n", "line 1"},
  };
  for (const auto& [text, where] : cases) {
    ::remove(path.c_str());
    if (text) WriteFile(path, text);
    EXPECT_FALSE(daemon_.StartStandalone({"-p", path}));
    EXPECT_EQ(1, daemon_.Process().Wait());
    EXPECT_NE(std::string::npos, daemon_.Log().find(path)) << daemon_.Log();
    EXPECT_NE(std::string::npos, daemon_.Log().find(where)) << daemon_.Log();
  }
}

// Two watches hold the user's two connections: a third is refused (infoctl cannot reach the
// daemon), traced once for the episode; root is not bounded.
TEST_F(TrustBoundaryTest, OneUsersConnectionsAndSubscriptionsAreBounded) {
  ASSERT_TRUE(daemon_.StartStandalone({"-c", "2"}));
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "w.x", "1"}).status);
  {
    const auto first = daemon_.Watch({"w.*"}, other_), second = daemon_.Watch({"w.*"}, other_);
    ASSERT_TRUE(first->WaitForLines(1) && second->WaitForLines(1)) << first->Err() << second->Err();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(2, AsOther({"get", "w.x"}).status);
    EXPECT_EQ("1", daemon_.Get("w.x"));
    EXPECT_TRUE(first->Poll() && second->Poll());
  }
  const std::string log = daemon_.Log();
  EXPECT_NE(std::string::npos, log.find("uid 65534")) << log;
  EXPECT_EQ(log.find("uid 65534"), log.rfind("uid 65534")) << log;
  EXPECT_TRUE(WaitUntil([&] { return AsOther({"get", "w.x"}).status == 0; }));

  TArgs tooMany = {"watch", "-n"};
  for (int i = 0; i <= 1000; ++i) tooMany.push_back("s." + std::to_string(i));
  const TResult refused = AsOther(tooMany);
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("error 202")) << refused.err;
  // The client withdrew the 1000 it got, so the user's share is free again.
  EXPECT_EQ(0, AsOther({"dump", "cfg.*"}).status);
}

// User and system time in clock ticks (fields 14 and 15 of /proc/PID/stat, counted after the
// name, which may hold spaces).
long CpuTicks(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  long user = 0, system = 0;
  std::sscanf(stat.c_str() + stat.rfind(')') + 2,
              "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %ld %ld", &user, &system);
  return user + system;
}

size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TUniqueFd Connect(const std::string& socketPath) {
  TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fd.Reset();
  return fd;
}

// True once the daemon closed the connection: the client reads the end or a reset.
bool Refused(const TUniqueFd& fd) {
  pollfd ready{fd.Get(), POLLIN, 0};
  char byte;
  return poll(&ready, 1, 0) == 1 && recv(fd.Get(), &byte, 1, MSG_DONTWAIT) <= 0;
}

using OverloadTest = TDaemonTest;

// 100 connections held against a limit of 40 descriptors: no spinning, no trace per failed
// accept, the connections it cannot take refused, served once they are gone.
TEST_F(OverloadTest, ConnectionsBeyondTheDescriptorLimitNeitherSpinNorFlood) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' vptr check opens a pipe, which fails at the descriptor limit";
#endif
  constexpr int kLimit = 40, kHeld = 100;
  ASSERT_TRUE(daemon_.StartStandalone(
      {}, {"/bin/sh", "-c", "ulimit -n " + std::to_string(kLimit) + " && exec \"$0\" \"$@\""}))
      << daemon_.Log();
  TIpcAddress parsed;
  ASSERT_TRUE(TIpcAddress::Parse(daemon_.Address(), parsed));
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.probe", "up"}).status);

  std::vector<TUniqueFd> held;
  for (int i = 0; i < kHeld; ++i) held.push_back(Connect(parsed.socketPath));
  ASSERT_EQ(kHeld, std::count_if(held.begin(), held.end(), [](auto& fd) { return fd.IsValid(); }));
  const size_t lines = Lines(daemon_.Log());
  const long ticks = CpuTicks(daemon_.Process().Pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // A spinning loop uses every tick, an idle daemon next to none.
  ASSERT_LT(CpuTicks(daemon_.Process().Pid()) - ticks, sysconf(_SC_CLK_TCK) * 2 * 3 / 10);
  EXPECT_LT(Lines(daemon_.Log()) - lines, 20u);
  // Those beyond the limit are refused (accepted and closed at once) rather than left waiting.
  EXPECT_TRUE(WaitUntil([&] {
    return std::count_if(held.begin(), held.end(), Refused) >= kHeld - kLimit;
  }));
  held.clear();
  EXPECT_TRUE(WaitUntil([&] { return daemon_.Get("var.probe") == "up"; }));
}

// Malformed datagrams on the meta channel: a bounded log (the first few lines, then about one
// a second), and clients served meanwhile.
TEST_F(OverloadTest, BadDatagramStreamLeavesABoundedLogWhileClientsAreServed) {
  const int port = TUdpSocket("127.0.0.1", 0).GetPort();
  ASSERT_TRUE(daemon_.StartStandalone({"-m", "127.0.0.1:" + std::to_string(port)}));
  TUdpSocket sender("127.0.0.1", 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const char garbage[16] = {};  // shorter than any header
  auto send = [&] {
    return sendto(sender.Get(), garbage, 16, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 16;
  };
  // The channel is open once a datagram leaves a trace.
  const size_t before = Lines(daemon_.Log());
  ASSERT_TRUE(WaitUntil([&] { return send() && Lines(daemon_.Log()) > before; })) << daemon_.Log();
  const size_t lines = Lines(daemon_.Log());
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.probe", "up"}).status);
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 5000; ++i) send();
    EXPECT_EQ("up", daemon_.Get("var.probe")) << "round " << round;
  }
  EXPECT_LT(Lines(daemon_.Log()) - lines, 60u);  // 20,000 without a limit
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration
