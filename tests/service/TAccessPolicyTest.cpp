#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/TAccessPolicy.h"

namespace {

constexpr uid_t kDaemonUid = 500;

TAccessPolicy::TNames FakeNames() {
  TAccessPolicy::TNames names;
  names.user = [](const std::string& name, uid_t& uid) {
    uid = 1000;
    return name == "app";
  };
  names.group = [](const std::string& name, gid_t& gid) {
    gid = 300;
    return name == "netadmin";
  };
  return names;
}

TAccessPolicy Parse(const std::string& text) {
  return TAccessPolicy::Parse(text, FakeNames(), kDaemonUid);
}

TPeerCredentials Peer(uid_t uid, gid_t gid, std::vector<gid_t> groups = {}) {
  TPeerCredentials peer;
  peer.uid = uid;
  peer.gid = gid;
  peer.groups = std::move(groups);
  return peer;
}

TEST(TAccessPolicyTest, BadLinesNameTheirLine) {
  const struct {
    std::string text;
    int line;
  } cases[] = {
      {"cfg.* r", 1},                    // no principal
      {"# c\n\ncfg.* rx *", 3},          // unknown right
      {"cfg.* wr *", 1},                 // rights out of order
      {"cfg.* rr *", 1},                 // a right twice
      {"cfg.* -r *", 1},                 // "-" is alone
      {"cfg* r *", 1},                   // "*" not after "."
      {"a.*.b r *", 1},                  // "*" inside
      {"cfg.* r user:nobody-here", 1},   // unknown user
      {"cfg.* r group:nobody-here", 1},  // unknown group
      {"cfg.* r uid:12x", 1},            // not a number
      {"cfg.* r uid:4294967295", 1},     // the "no id" value
      {"cfg.* r uid:", 1},               // empty id
      {"cfg.* r admin", 1},              // unknown principal kind
      {"x r *\ncfg.* r user:", 2},       // empty name
  };
  for (const auto& c : cases) {
    try {
      Parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const TAccessPolicy::TError& error) {
      EXPECT_EQ(c.line, error.GetLine()) << c.text;
    }
  }
  EXPECT_THROW(Parse(std::string(TAccessPolicy::kMaxFileBytes + 1, '#')), TAccessPolicy::TError);
}

TEST(TAccessPolicyTest, FirstMatchingLineWithThePeerDecides) {
  const TAccessPolicy policy = Parse(
      "# a box\n"
      "cfg.ip.rmtsource  -    *          # nobody but root\n"
      "cfg.ip.*          rw   group:netadmin\n"
      "cfg.app.*\trws\tuser:app  uid:1001\n"
      "cfg.*             r    gid:301 *\n"
      "var.x             s    uid:1000\n");
  const TPeerCredentials app = Peer(1000, 1000);
  const TPeerCredentials other = Peer(1001, 1001);
  const TPeerCredentials admin = Peer(1002, 1002, {300});
  const TPeerCredentials primaryAdmin = Peer(1003, 300);
  const struct {
    const TPeerCredentials& peer;
    const char* text;
    TAccessPolicy::TRight right;
    bool allowed;
  } cases[] = {
      {admin, "cfg.ip.rmtsource", TAccessPolicy::eWrite, false},  // earlier line wins
      {admin, "cfg.ip.rmtsource", TAccessPolicy::eRead, false},
      {admin, "cfg.ip.dhcp", TAccessPolicy::eWrite, true},         // supplementary group
      {primaryAdmin, "cfg.ip.dhcp", TAccessPolicy::eWrite, true},  // primary group
      {app, "cfg.ip.dhcp", TAccessPolicy::eRead, true},            // falls through to cfg.*
      {app, "cfg.ip.dhcp", TAccessPolicy::eWrite, false},
      {app, "cfg.app.x", TAccessPolicy::eSubscribe, true},
      {other, "cfg.app.x", TAccessPolicy::eWrite, true},
      {app, "cfg.other", TAccessPolicy::eWrite, false},
      {app, "var.x", TAccessPolicy::eSubscribe, true},
      {app, "var.x", TAccessPolicy::eRead, false},
      {app, "var.y", TAccessPolicy::eRead, false},          // no line: refused
      {app, "cfg.app.*", TAccessPolicy::eSubscribe, true},  // expressions: coverage
      {app, "cfg.app.sub.*", TAccessPolicy::eSubscribe, true},
      {app, "cfg.*", TAccessPolicy::eSubscribe, false},  // beyond cfg.app.*
      {app, "*", TAccessPolicy::eRead, false},
      {app, "cfg.app", TAccessPolicy::eRead, true},                            // cfg.* covers it
      {Peer(0, 0), "var.y", TAccessPolicy::eWrite, true},                      // root
      {Peer(kDaemonUid, 7), "cfg.ip.rmtsource", TAccessPolicy::eWrite, true},  // daemon's user
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.allowed, policy.Allows(c.peer, c.text, c.right))
        << "uid " << c.peer.uid << " " << c.text << " right " << c.right;
  }
  EXPECT_EQ(5u, policy.GetLineCount());
}

TEST(TAccessPolicyTest, StarCoversEverythingAndEmptyPolicyRefusesAll) {
  const TPeerCredentials app = Peer(1000, 1000);
  EXPECT_TRUE(Parse("* rws *").Allows(app, "*", TAccessPolicy::eSubscribe));
  EXPECT_FALSE(Parse("\n# nothing\n").Allows(app, "cfg.x", TAccessPolicy::eRead));
}

}  // namespace
