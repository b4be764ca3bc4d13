// Access policy rules.
//
// A policy is a text of lines `EXPRESSION RIGHTS PRINCIPAL...`, fields separated by spaces or
// tabs; `#` starts a comment that runs to the end of the line; blank lines are ignored.
//   EXPRESSION  a name (cfg.ip.rmtsource), a prefix ending in ".*" (cfg.ip.*), or "*" alone,
//               as in subscriptions. A "*" anywhere else is refused: in a policy it is far
//               more likely a mistake than a name that really holds a "*".
//   RIGHTS      a non-empty subset of "rws" in that order, or "-" for none:
//               r  get, get several, get-to-file; dump and enumeration carry only names
//                  with r; notifications too
//               w  set, set several, unset, unset several, set-from-file
//               s  subscribe and unsubscribe
//   PRINCIPAL   "*" (every peer), uid:N, user:NAME, gid:N, group:NAME (the peer's primary or
//               one of its supplementary groups); names are resolved once, when the policy is
//               read, and an unknown one is an error.
//
// The first line whose expression covers the name (or the whole subscribed expression) and
// whose principals include the peer decides; when no line decides, the request is refused.
// Root and the daemon's own user are never restricted. Coverage is the subscription
// wildcard rule applied to the requested text:
//
//   line expression  request            covered
//   cfg.*            cfg.ip.x           yes
//   cfg.*            cfg.ip.*           yes (every name the subscription can match)
//   cfg.*            cfg.*              yes
//   cfg.*            *                  no  ("*" reaches beyond cfg.)
//   cfg.*            cfg                no
//   cfg.ip.x         cfg.ip.*           no
//   *                anything           yes
//
// Example: `cfg.ip.* rw group:netadmin` then `cfg.* r *`: netadmin members read and write
// cfg.ip.*, everybody reads the rest of cfg.*, nobody else writes anything, and nobody but
// root and the daemon's user reads var.*.
#include "service/TAccessPolicy.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>

#include "os/ReadFileUpTo.h"

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t position = 0;
  for (;;) {
    position = line.find_first_not_of(" \t\r", position);
    if (position == std::string::npos) return fields;
    const size_t end = line.find_first_of(" \t\r", position);
    fields.push_back(line.substr(position, end - position));
    if (end == std::string::npos) return fields;
    position = end;
  }
}

bool IsWellFormedExpression(const std::string& expression) {
  const size_t star = expression.find('*');
  if (star == std::string::npos) return true;
  if (star != expression.size() - 1) return false;
  return expression.size() == 1 || expression[star - 1] == '.';
}

bool ParseRights(const std::string& text, unsigned& rights) {
  rights = 0;
  if (text == "-") return true;
  static const char kOrder[] = "rws";
  size_t next = 0;
  for (char c : text) {
    const char* found = std::strchr(kOrder + next, c);
    if (c == '\0' || !found) return false;
    next = static_cast<size_t>(found - kOrder) + 1;
    rights |= 1u << (found - kOrder);
  }
  return rights != 0;
}

// Decimal only, within the id type, and not the "no id" value (unsigned)-1.
bool ParseId(const std::string& text, unsigned& id) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value >= std::numeric_limits<uid_t>::max()) return false;
  id = static_cast<unsigned>(value);
  return true;
}

}  // namespace

TAccessPolicy::TNames TAccessPolicy::SystemNames() {
  TNames names;
  names.user = [](const std::string& name, uid_t& uid) {
    const passwd* entry = getpwnam(name.c_str());
    if (!entry) return false;
    uid = entry->pw_uid;
    return true;
  };
  names.group = [](const std::string& name, gid_t& gid) {
    const group* entry = getgrnam(name.c_str());
    if (!entry) return false;
    gid = entry->gr_gid;
    return true;
  };
  return names;
}

TAccessPolicy TAccessPolicy::Parse(const std::string& text, const TNames& names, uid_t exemptUid) {
  if (text.size() > kMaxFileBytes) {
    throw TError(0, "larger than " + std::to_string(kMaxFileBytes) + " bytes");
  }
  TAccessPolicy policy;
  policy.exemptUid_ = exemptUid;
  int number = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    line = line.substr(0, line.find('#'));
    const std::vector<std::string> fields = Fields(line);
    if (fields.empty()) continue;
    if (policy.lines_.size() >= kMaxLines) {
      throw TError(number, "more than " + std::to_string(kMaxLines) + " rules");
    }
    if (fields.size() < 3) throw TError(number, "expected EXPRESSION RIGHTS PRINCIPAL...");
    if (!IsWellFormedExpression(fields[0])) {
      throw TError(number, "bad expression '" + fields[0] + "' (a name, NAME.* or *)");
    }
    const bool wildcard = fields[0].back() == '*';
    TLine rule{fields[0].substr(0, fields[0].size() - (wildcard ? 1 : 0)), wildcard, 0, {}};
    if (!ParseRights(fields[1], rule.rights)) {
      throw TError(number, "bad rights '" + fields[1] + "' (a subset of rws in that order, or -)");
    }
    for (size_t i = 2; i < fields.size(); ++i) {
      const std::string& field = fields[i];
      const size_t colon = field.find(':');
      const std::string kind = colon == std::string::npos ? field : field.substr(0, colon);
      const std::string value = colon == std::string::npos ? "" : field.substr(colon + 1);
      TPrincipal principal{TPrincipal::TKind::eAnyone, 0};
      bool known = true;
      if (field == "*") {
      } else if (kind == "uid" || kind == "gid") {
        principal.kind = kind == "uid" ? TPrincipal::TKind::eUid : TPrincipal::TKind::eGid;
        known = ParseId(value, principal.id);
        if (!known) throw TError(number, "bad id in '" + field + "'");
      } else if (kind == "user" && !value.empty()) {
        uid_t uid = 0;
        if (!names.user || !names.user(value, uid)) {
          throw TError(number, "unknown user '" + value + "'");
        }
        principal = {TPrincipal::TKind::eUid, static_cast<unsigned>(uid)};
      } else if (kind == "group" && !value.empty()) {
        gid_t gid = 0;
        if (!names.group || !names.group(value, gid)) {
          throw TError(number, "unknown group '" + value + "'");
        }
        principal = {TPrincipal::TKind::eGid, static_cast<unsigned>(gid)};
      } else {
        throw TError(number,
                     "bad principal '" + field + "' (*, uid:N, user:NAME, gid:N or group:NAME)");
      }
      rule.principals.push_back(principal);
    }
    policy.lines_.push_back(std::move(rule));
  }
  policy.byFirstByte_.resize(256);
  for (uint32_t i = 0; i < policy.lines_.size(); ++i) {
    const std::string& prefix = policy.lines_[i].prefix;
    for (unsigned byte = 0; byte < 256; ++byte) {
      if (prefix.empty() || static_cast<unsigned char>(prefix[0]) == byte) {
        policy.byFirstByte_[byte].push_back(i);
      }
    }
  }
  return policy;
}

TAccessPolicy TAccessPolicy::Load(const std::string& path, uid_t exemptUid) {
  const std::string prefix = "policy '" + path + "'";
  // One byte past the bound, so that Parse tells a file that is too large.
  std::string text;
  const TFileRead read = ReadFileUpTo(path, kMaxFileBytes + 1, text);
  if (read == TFileRead::kOpenFailed || read == TFileRead::kReadFailed) {
    throw TException(ErrnoMessage(prefix + ": cannot read", errno));
  }
  try {
    return Parse(text, SystemNames(), exemptUid);
  } catch (const TError& error) {
    if (error.GetLine() == 0) throw TException(prefix + ": " + error.GetText());
    throw TException(prefix + " line " + std::to_string(error.GetLine()) + ": " + error.GetText());
  }
}

bool TAccessPolicy::IsExempt(const TPeerCredentials& peer) const {
  return peer.uid == 0 || peer.uid == exemptUid_;
}

// The subscription wildcard rule (TObjectExpression).
bool TAccessPolicy::Covers(const TLine& line, const std::string& text) {
  const size_t length = line.prefix.size();
  if (line.wildcard) return text.size() > length && text.compare(0, length, line.prefix) == 0;
  return text == line.prefix;
}

bool TAccessPolicy::Includes(const TLine& line, const TPeerCredentials& peer) {
  for (const TPrincipal& principal : line.principals) {
    switch (principal.kind) {
      case TPrincipal::TKind::eAnyone:
        return true;
      case TPrincipal::TKind::eUid:
        if (peer.uid == principal.id) return true;
        break;
      case TPrincipal::TKind::eGid:
        if (peer.HasGroup(principal.id)) return true;
        break;
    }
  }
  return false;
}

bool TAccessPolicy::Allows(const TPeerCredentials& peer, const std::string& nameOrExpression,
                           TRight right) const {
  if (IsExempt(peer)) return true;
  if (nameOrExpression.empty()) return false;
  for (uint32_t index : byFirstByte_[static_cast<unsigned char>(nameOrExpression[0])]) {
    const TLine& line = lines_[index];
    if (Covers(line, nameOrExpression) && Includes(line, peer)) {
      return (line.rights & right) != 0;
    }
  }
  return false;
}
