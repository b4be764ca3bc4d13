// Who may do what with which names: the access policy the daemon reads at start-up (option
// -p). The rules and examples are at the top of TAccessPolicy.cpp. Without a policy every
// peer may do everything; with one, a request of a peer other than root and the daemon's own
// user is allowed only when a line grants it. Immutable once parsed; runs on the loop thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/TException.h"
#include "ipc/TPeerCredentials.h"

class TAccessPolicy final {
 public:
  enum TRight : unsigned { eRead = 1, eWrite = 2, eSubscribe = 4 };

  // A policy is written by the box's integrator, but it is still a file: its size and its
  // number of lines are bounded so that a wrong file named by -p cannot take the memory.
  static constexpr size_t kMaxFileBytes = 1024 * 1024;
  static constexpr size_t kMaxLines = 1000;

  // What is wrong with a policy text, at which line (0: the text as a whole).
  class TError final : public TException {
   public:
    TError(int line, const std::string& text) : TException(text), line_(line) {}
    int GetLine() const { return line_; }

   private:
    int line_;
  };

  // Turns user and group names into ids; false for a name the system does not know.
  struct TNames {
    std::function<bool(const std::string& name, uid_t& uid)> user;
    std::function<bool(const std::string& name, gid_t& gid)> group;
  };
  // The system's user and group database (getpwnam, getgrnam).
  static TNames SystemNames();

  // Parses a policy text; exemptUid is the daemon's own user, which like root is never
  // restricted. Throws TError naming the first line that does not parse or names an unknown
  // user or group.
  static TAccessPolicy Parse(const std::string& text, const TNames& names, uid_t exemptUid);
  // Reads and parses the file. Throws TException with one message naming the file, the line
  // (where there is one) and what is wrong.
  static TAccessPolicy Load(const std::string& path, uid_t exemptUid);

  // Whether the peer may use the right on a name, or on every name of a subscription
  // expression: the first line whose expression covers it and whose principals include the
  // peer decides; no line: refused. Always true for an exempt peer.
  bool Allows(const TPeerCredentials& peer, const std::string& nameOrExpression,
              TRight right) const;
  // Root and the daemon's own user.
  bool IsExempt(const TPeerCredentials& peer) const;

  size_t GetLineCount() const { return lines_.size(); }

 private:
  struct TPrincipal {
    enum class TKind { eAnyone, eUid, eGid } kind;
    unsigned id;
  };
  // The expression kept as its literal part and whether a "*" followed it, so that most
  // lines are passed over after one byte: every get and set walks the lines.
  struct TLine {
    std::string prefix;
    bool wildcard;
    unsigned rights;
    std::vector<TPrincipal> principals;
  };

  TAccessPolicy() = default;
  static bool Covers(const TLine& line, const std::string& text);
  static bool Includes(const TLine& line, const TPeerCredentials& peer);

  std::vector<TLine> lines_;
  // Per first byte of a name, the lines that can cover such a name ("*" lines and those
  // whose expression starts with that byte), in file order: a check looks at those only.
  std::vector<std::vector<uint32_t>> byFirstByte_;
  uid_t exemptUid_ = 0;
};
