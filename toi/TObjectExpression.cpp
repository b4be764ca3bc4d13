// Matching rules of subscription expressions. Names and expressions are byte strings,
// compared byte-wise and case-sensitively.
//
// Exact mode (used to decide whether an adapter should fetch an object): the name must equal
// the expression.
//
// Wildcard mode (used to decide who is notified): an expression of length L is a wildcard
// when it ends in "*" and either is "*" alone or has "." right before the "*". A wildcard
// matches every name of at least L bytes whose first L-1 bytes equal the expression without
// its "*". Every other expression matches only the identical name.
//
//   expression   name            matches
//   cfg.locale.* cfg.locale.ui   yes
//   cfg.locale.* cfg.locale.a.b  yes  (the wildcard spans further components)
//   cfg.locale.* cfg.locale.     no   (shorter than the expression: the "*" needs a byte)
//   cfg.locale.* cfg.locale      no
//   cfg.locale.* cfg.localex     no
//   *            a               yes  (every name that is not empty)
//   *            ""              no
//   cfg*         cfg.x           no   ("*" not after "."), but cfg* matches "cfg*"
//   a.*.b        a.x.b           no   (a "*" inside is an ordinary byte), a.*.b matches "a.*.b"
//   cfg.x        cfg.x           yes
//   CFG.*        cfg.x           no   (case-sensitive)
#include "toi/TObjectExpression.h"

#include <utility>

TObjectExpression::TObjectExpression(std::string expression) : expression_(std::move(expression)) {}

bool TObjectExpression::Match(const std::string& name, bool exact) const {
  if (exact) return name == expression_;
  const std::size_t length = expression_.size();
  const bool wildcard = length >= 1 && name.size() >= length && expression_.back() == '*' &&
                        (length == 1 || expression_[length - 2] == '.');
  if (wildcard) return name.compare(0, length - 1, expression_, 0, length - 1) == 0;
  return name == expression_;
}
