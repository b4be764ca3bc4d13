// The trust boundary against the real daemon, with clients running under another user: the
// files a client names are opened with its rights, the access policy decides who reads,
// writes and subscribes which names, and one user's share of connections and subscriptions
// is bounded. The other user is uid 65534 in the daemon's group, as an application on a box
// is (the group is what lets it reach the IPC socket); making it takes root.
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

#include "ipc/TIpcAddress.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr uid_t kOtherUid = 65534;
const char kSetpriv[] = "/usr/bin/setpriv";

class TrustBoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || access(kSetpriv, X_OK) != 0) {
      GTEST_SKIP() << "needs root and setpriv to run clients as uid " << kOtherUid;
    }
    chmod(root_.Path().c_str(), 0755);  // mkdtemp made it 0700
  }

  // infoctl as uid 65534 with the daemon's group and no other group.
  TResult AsOther(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {kSetpriv, "--reuid=" + std::to_string(kOtherUid),
                                     "--regid=" + std::to_string(getegid()), "--clear-groups"};
    for (const std::string& a : daemon_.InfoctlCommand(arguments)) argv.push_back(a);
    return RunProgram(root_, argv, daemon_.Environment());
  }
  std::string File(const std::string& name, const std::string& content, mode_t mode,
                   uid_t owner = 0) const {
    const std::string path = root_.File(name);
    WriteFile(path, content);
    chmod(path.c_str(), mode);
    if (chown(path.c_str(), owner, getegid()) != 0) ADD_FAILURE() << "chown " << path;
    return path;
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
};

TEST_F(TrustBoundaryTest, FilesAreOpenedWithTheCallersRights) {
  const std::string secret = File("secret", "root only", 0600);
  const std::string victim = File("victim", "keep", 0644);
  const std::string own = File("own", "mine", 0600, kOtherUid);
  const std::string ownOut = File("own-out", "", 0600, kOtherUid);
  ASSERT_TRUE(daemon_.StartStandalone());
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.v", "hello"}).status);

  // Read a root-only file into an object, then read the object back.
  TResult leak = AsOther({"set-from-file", "-v", "var.leak", secret});
  EXPECT_EQ(1, leak.status);
  EXPECT_NE(std::string::npos, leak.err.find("error 207")) << leak.err;
  EXPECT_NE(0, daemon_.Infoctl({"get", "var.leak"}).status);
  // Truncate and overwrite a root-owned file the client may not write.
  EXPECT_EQ(1, AsOther({"get-to-file", "var.v", victim}).status);
  EXPECT_EQ("keep", ReadFile(victim));

  // Its own files keep working, and so do root's rights.
  EXPECT_EQ(0, AsOther({"set-from-file", "-v", "var.own", own}).status);
  EXPECT_EQ("mine\n", daemon_.Infoctl({"get", "var.own"}).out);
  EXPECT_EQ(0, AsOther({"get-to-file", "var.v", ownOut}).status);
  EXPECT_EQ("hello", ReadFile(ownOut));
  EXPECT_EQ(0, daemon_.Infoctl({"set-from-file", "-v", "var.root", secret}).status);
  EXPECT_EQ(0, daemon_.Infoctl({"get-to-file", "var.v", victim}).status);
  EXPECT_EQ("hello", ReadFile(victim));
}

TEST_F(TrustBoundaryTest, PolicyDecidesReadsWritesAndSubscriptions) {
  WriteFile(root_.File("policy"),
            "# network settings: everybody reads and watches, nobody but root writes\n"
            "cfg.ip.*    rs   *\n"
            "cfg.hidden  -    *\n"
            "cfg.*       rws  uid:65534\n"
            "app.*       rw   uid:65534   # app.alias is served as cfg.ip.addr\n");
  WriteFile(root_.File("aliases.xml"),
            "<Objects><Object><Name>app.alias</Name><Alias>cfg.ip.addr</Alias></Object>"
            "</Objects>\n");
  ASSERT_TRUE(
      daemon_.StartStandalone({"-p", root_.File("policy"), "-a", root_.File("aliases.xml")}))
      << daemon_.Log();
  for (const char* name : {"cfg.ip.addr", "cfg.hidden", "cfg.open", "var.x"}) {
    ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", name, "1"}).status) << name;
  }
  const struct {
    std::vector<std::string> arguments;
    bool allowed;
  } cases[] = {
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
  for (const auto& c : cases) {
    const TResult result = AsOther(c.arguments);
    EXPECT_EQ(c.allowed ? 0 : 1, result.status) << c.arguments[0] << " " << c.arguments.back();
    if (!c.allowed) {
      EXPECT_NE(std::string::npos, result.err.find("error 203")) << result.err;
    }
  }
  const TResult dump = AsOther({"dump", "cfg.*"});
  EXPECT_NE(std::string::npos, dump.out.find("cfg.ip.addr=1\ncfg.open=2\n")) << dump.err;
  EXPECT_EQ(std::string::npos, dump.out.find("cfg.hidden"));

  // Notifications carry only what the subscriber may read.
  std::vector<std::string> watch = {kSetpriv, "--reuid=65534",
                                    "--regid=" + std::to_string(getegid()), "--clear-groups"};
  for (const std::string& a : daemon_.InfoctlCommand({"watch", "-n", "cfg.*"})) watch.push_back(a);
  TProcess watcher(root_, watch, daemon_.Environment());
  ASSERT_TRUE(WaitUntil([&] {
    daemon_.Infoctl({"set", "-v", "cfg.hidden", std::to_string(std::rand())});
    return daemon_.Infoctl({"set", "-v", "cfg.open", std::to_string(std::rand())}).status == 0 &&
           watcher.Out().find("changed cfg.open") != std::string::npos;
  })) << watcher.Err();
  EXPECT_EQ(std::string::npos, watcher.Out().find("cfg.hidden"));
  EXPECT_EQ(0, daemon_.Infoctl({"set", "-v", "cfg.ip.addr", "2"}).status);  // root
}

TEST(TrustBoundaryPolicyFileTest, UnusablePolicyStopsTheDaemonNamingFileAndLine) {
  TTempRoot root;
  const struct {
    const char* text;  // nullptr: no file at all
    const char* where;
  } cases[] = {
      {nullptr, "policy"},
      {"cfg.* rx *\n", "line 1"},
      {"# fine\ncfg.* r *\ncfg.* r\n", "line 3"},
      {"cfg.* r user:no-such-user-here\n", "line 1"},
      {"cfg.* r group:no-such-group-here\n", "line 1"},
  };
  for (const auto& c : cases) {
    const std::string path = root.File("policy");
    ::remove(path.c_str());
    if (c.text) WriteFile(path, c.text);
    TDaemon daemon(root);
    EXPECT_FALSE(daemon.StartStandalone({"-p", path}));
    EXPECT_EQ(1, daemon.Process().Wait());
    EXPECT_NE(std::string::npos, daemon.Log().find(path)) << daemon.Log();
    EXPECT_NE(std::string::npos, daemon.Log().find(c.where)) << daemon.Log();
  }
}

TEST_F(TrustBoundaryTest, OneUsersConnectionsAndSubscriptionsAreBounded) {
  ASSERT_TRUE(daemon_.StartStandalone({"-c", "2"}));
  TIpcAddress address;
  ASSERT_TRUE(TIpcAddress::Parse(daemon_.Address(), address));
  int toParent[2], toChild[2];
  ASSERT_EQ(0, pipe(toParent));
  ASSERT_EQ(0, pipe(toChild));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t gid = getegid();
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(kOtherUid) != 0) _exit(2);
    sockaddr_un peer{};
    peer.sun_family = AF_UNIX;
    std::memcpy(peer.sun_path, address.socketPath.data(), address.socketPath.size());
    pollfd sockets[4];
    for (pollfd& s : sockets) {
      s = {socket(AF_UNIX, SOCK_STREAM, 0), POLLIN, 0};
      if (connect(s.fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) _exit(3);
    }
    char go = 0;
    if (write(toParent[1], "c", 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(4);
    poll(sockets, 4, 0);  // the daemon closed the ones it refused: end of file is readable
    char closed[4];
    for (int i = 0; i < 4; ++i) closed[i] = (sockets[i].revents & (POLLIN | POLLHUP)) ? '1' : '0';
    _exit(write(toParent[1], closed, 4) == 4 ? 0 : 5);
  }
  char ready = 0;
  ASSERT_EQ(1, read(toParent[0], &ready, 1));
  // Root is not bounded, and its call is accepted after the four: once it is answered, the
  // daemon has decided about all of them.
  EXPECT_EQ(0, daemon_.Infoctl({"set", "-v", "var.x", "1"}).status);
  ASSERT_EQ(1, write(toChild[1], "g", 1));
  char closed[5] = {};
  ASSERT_EQ(4, read(toParent[0], closed, 4));
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(0, status);
  EXPECT_STREQ("0011", closed);
  // Traced once for the episode, not once per refused connection.
  const std::string log = daemon_.Log();
  EXPECT_EQ(log.find("uid 65534"), log.rfind("uid 65534")) << log;
  EXPECT_NE(std::string::npos, log.find("uid 65534")) << log;

  std::vector<std::string> tooMany = {"watch", "-n"};
  for (int i = 0; i <= 1000; ++i) tooMany.push_back("s." + std::to_string(i));
  const TResult refused = AsOther(tooMany);
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("error 202")) << refused.err;
  // The client withdrew the 1000 it got, so the user's share is free again.
  EXPECT_EQ(0, AsOther({"dump", "cfg.*"}).status);
}

}  // namespace
}  // namespace integration
