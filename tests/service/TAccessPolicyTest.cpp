#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <tuple>

#include "service/TAccessPolicy.h"

namespace {

constexpr uid_t kDaemonUid = 500;

// Users: "app" is 1000; groups: "netadmin" is 300; nobody else exists.
TAccessPolicy Parse(const std::string& text) {
  TAccessPolicy::TNames names;
  names.user = [](const std::string& n, uid_t& uid) { return (uid = 1000) && n == "app"; };
  names.group = [](const std::string& n, gid_t& gid) { return (gid = 300) && n == "netadmin"; };
  return TAccessPolicy::Parse(text, names, kDaemonUid);
}

// Bad texts, one after another, "|" between them; a text's last line is the bad one.
TEST(TAccessPolicyTest, BadLinesNameTheirLine) {
  std::istringstream cases(
      "cfg.* r|# c\n\ncfg.* rx *|cfg.* wr *|cfg.* rr *|cfg.* -r *|cfg* r *|a.*.b r *|"
      "cfg.* r user:nobody|cfg.* r group:nobody|cfg.* r uid:12x|cfg.* r uid:4294967295|"
      "cfg.* r uid:|cfg.* r admin|x r *\ncfg.* r user:");
  for (std::string text; std::getline(cases, text, '|');) {
    const int line = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
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
  // Credentials: pid, uid, gid, supplementary groups.
  const TPeerCredentials app{0, 1000, 1000, {}}, other{0, 1001, 1001, {}}, root{0, 0, 0, {}};
  const TPeerCredentials admin{0, 1002, 1002, {300}}, primaryAdmin{0, 1003, 300, {}};
  const TPeerCredentials daemon{0, kDaemonUid, 7, {}};
  // The peer, the name or expression, the rights it is given of r, w and s.
  const std::tuple<const TPeerCredentials&, const char*, std::string> cases[] = {
      {admin, "cfg.ip.rmtsource", ""},  // an earlier line wins
      {admin, "cfg.ip.dhcp", "rw"},     // supplementary group
      {primaryAdmin, "cfg.ip.dhcp", "rw"},
      {app, "cfg.ip.dhcp", "r"},  // falls through to cfg.*
      {app, "cfg.app.x", "rws"},
      {other, "cfg.app.x", "rws"},  // a later principal of the line
      {app, "cfg.app", "r"},
      {app, "var.x", "s"},
      {app, "var.y", ""},         // no line: refused
      {app, "cfg.app.*", "rws"},  // the first line covering all of it
      {app, "cfg.*", "r"},
      {app, "*", ""},
      {root, "var.y", "rws"},               // root
      {daemon, "cfg.ip.rmtsource", "rws"},  // the daemon's user
  };
  const std::pair<char, TAccessPolicy::TRight> rights[] = {
      {'r', TAccessPolicy::eRead}, {'w', TAccessPolicy::eWrite}, {'s', TAccessPolicy::eSubscribe}};
  for (const auto& [peer, text, given] : cases)
    for (const auto& [letter, right] : rights)
      EXPECT_EQ(given.find(letter) != std::string::npos, policy.Allows(peer, text, right))
          << "uid " << peer.uid << " " << text << " " << letter;
  EXPECT_TRUE(Parse("* rws *").Allows(app, "*", TAccessPolicy::eSubscribe));
  EXPECT_FALSE(Parse("\n# nothing\n").Allows(app, "cfg.x", TAccessPolicy::eRead));
}

}  // namespace
