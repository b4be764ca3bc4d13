// The trust boundary, with clients as uid 65534 in the daemon's group (as an application on a
// box is: the group lets it reach the socket): files opened with the caller's rights, the
// access policy, and one user's bounded share of connections and subscriptions.
#include <gtest/gtest.h>

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
    const std::string path = root_.File(name);
    WriteFile(path, content);
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

  // Read a root-only file into an object, then read the object back.
  const TResult leak = AsOther({"set-from-file", "-v", "var.leak", secret});
  EXPECT_EQ(1, leak.status);
  EXPECT_NE(std::string::npos, leak.err.find("error 207")) << leak.err;
  EXPECT_EQ("<none>", daemon_.Get("var.leak"));
  // Truncate and overwrite a root-owned file the client may not write.
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
  WriteFile(root_.File("policy"),
            "# network settings: everybody reads and watches, nobody but root writes\n"
            "cfg.ip.*    rs   *\ncfg.hidden  -    *\ncfg.*       rws  uid:65534\n"
            "app.*       rw   uid:65534   # app.alias is served as cfg.ip.addr\n");
  WriteFile(root_.File("aliases.xml"),
            "<Objects><Object><Name>app.alias</Name><Alias>cfg.ip.addr</Alias></Object>"
            "</Objects>\n");
  ASSERT_TRUE(
      daemon_.StartStandalone({"-p", root_.File("policy"), "-a", root_.File("aliases.xml")}))
      << daemon_.Log();
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
      {"cfg.* r group:no-such-group-here\n", "line 1"},
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

// Two watches hold the user's two connections: a third connection is refused (infoctl cannot
// reach the daemon), traced once for the episode; root is not bounded.
TEST_F(TrustBoundaryTest, OneUsersConnectionsAndSubscriptionsAreBounded) {
  ASSERT_TRUE(daemon_.StartStandalone({"-c", "2"}));
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "w.x", "1"}).status);
  {
    const auto first = daemon_.Watch({"w.*"}, other_);
    ASSERT_TRUE(first->WaitForLines(1)) << first->Err();
    const auto second = daemon_.Watch({"w.*"}, other_);
    ASSERT_TRUE(second->WaitForLines(1)) << second->Err();
    EXPECT_EQ(2, AsOther({"get", "w.x"}).status);
    EXPECT_EQ(2, AsOther({"get", "w.x"}).status);
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

}  // namespace
}  // namespace integration
