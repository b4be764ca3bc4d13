#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "service/TAccessPolicy.h"

namespace {

constexpr uid_t kDaemonUid = 500;

// Users: "app" is 1000; groups: "netadmin" is 300; nobody else exists.
TAccessPolicy Parse(const std::string& text) {
  TAccessPolicy::TNames names;
  names.user = [](const std::string& name, uid_t& uid) {
    uid = 1000;
    return name == "app";
  };
  names.group = [](const std::string& name, gid_t& gid) {
    gid = 300;
    return name == "netadmin";
  };
  return TAccessPolicy::Parse(text, names, kDaemonUid);
}

TPeerCredentials Peer(uid_t uid, gid_t gid, std::vector<gid_t> groups = {}) {
  TPeerCredentials peer;
  peer.uid = uid;
  peer.gid = gid;
  peer.groups = std::move(groups);
  return peer;
}

TEST(TAccessPolicyTest, BadLinesNameTheirLine) {
  const std::pair<const char*, int> cases[] = {{"cfg.* r", 1},
                                               {"# c\n\ncfg.* rx *", 3},
                                               {"cfg.* wr *", 1},
                                               {"cfg.* rr *", 1},
                                               {"cfg.* -r *", 1},
                                               {"cfg* r *", 1},
                                               {"a.*.b r *", 1},
                                               {"cfg.* r user:nobody", 1},
                                               {"cfg.* r group:nobody", 1},
                                               {"cfg.* r uid:12x", 1},
                                               {"cfg.* r uid:4294967295", 1},
                                               {"cfg.* r uid:", 1},
                                               {"cfg.* r admin", 1},
                                               {"x r *\ncfg.* r user:", 2}};
  for (const auto& [text, line] : cases) {
    try {
      Parse(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const TAccessPolicy::TError& error) {
      EXPECT_EQ(line, error.GetLine()) << text;
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
  EXPECT_EQ(5u, policy.GetLineCount());
  const TPeerCredentials app = Peer(1000, 1000), other = Peer(1001, 1001);
  const TPeerCredentials admin = Peer(1002, 1002, {300}), primaryAdmin = Peer(1003, 300);
  // The rights each case is given, of r, w and s.
  const struct {
    const TPeerCredentials& peer;
    const char* text;
    std::string rights;
  } cases[] = {
      {admin, "cfg.ip.rmtsource", ""},  // an earlier line wins
      {admin, "cfg.ip.dhcp", "rw"},     // supplementary group
      {primaryAdmin, "cfg.ip.dhcp", "rw"},
      {app, "cfg.ip.dhcp", "r"},  // falls through to cfg.*
      {app, "cfg.app.x", "rws"},
      {other, "cfg.app.x", "rws"},
      {app, "cfg.other", "r"},
      {app, "cfg.app", "r"},
      {app, "var.x", "s"},
      {app, "var.y", ""},         // no line: refused
      {app, "cfg.app.*", "rws"},  // the first line covering all of it
      {app, "cfg.app.sub.*", "rws"},
      {app, "cfg.*", "r"},
      {app, "*", ""},
      {Peer(0, 0), "var.y", "rws"},                      // root
      {Peer(kDaemonUid, 7), "cfg.ip.rmtsource", "rws"},  // the daemon's user
  };
  const std::pair<char, TAccessPolicy::TRight> rights[] = {
      {'r', TAccessPolicy::eRead}, {'w', TAccessPolicy::eWrite}, {'s', TAccessPolicy::eSubscribe}};
  for (const auto& c : cases) {
    for (const auto& [letter, right] : rights) {
      EXPECT_EQ(c.rights.find(letter) != std::string::npos, policy.Allows(c.peer, c.text, right))
          << "uid " << c.peer.uid << " " << c.text << " " << letter;
    }
  }
  EXPECT_TRUE(Parse("* rws *").Allows(app, "*", TAccessPolicy::eSubscribe));
  EXPECT_FALSE(Parse("\n# nothing\n").Allows(app, "cfg.x", TAccessPolicy::eRead));
}

}  // namespace
