#include <gtest/gtest.h>

#include "toi/TObjectExpression.h"

namespace {

TEST(TObjectExpressionTest, MatchesByTheWildcardAndExactRules) {
  struct TCase {
    const char* expression;
    const char* name;
    bool wildcardMatch;
    bool exactMatch;
  } const cases[] = {// A wildcard spans one or more further bytes, components included.
                     {"a.b.*", "a.b.c", true, false},
                     {"a.b.*", "a.b.c.d", true, false},
                     // The "*" needs at least one byte, and the dot is part of the prefix.
                     {"a.b.*", "a.b.", false, false},
                     {"a.b.*", "a.b", false, false},
                     {"a.b.*", "a.bc", false, false},
                     // The expression text itself matches in both modes.
                     {"a.b.*", "a.b.*", true, true},
                     // "*" alone matches every name that is not empty.
                     {"*", "cfg.a.b", true, false},
                     {"*", "", false, false},
                     // A "*" not right after a dot, or not at the end, is an ordinary byte.
                     {"cfg*", "cfg.x", false, false},
                     {"cfg*", "cfg*", true, true},
                     {"a.*.b", "a.x.b", false, false},
                     {"*.x", "a.x", false, false},
                     // Plain names match only themselves, byte-wise and case-sensitively.
                     {"cfg.x", "cfg.x", true, true},
                     {"cfg.x", "cfg.xy", false, false},
                     {"CFG.*", "cfg.x", false, false},
                     {"", "", true, true},
                     {"", "a", false, false}};
  for (const TCase& c : cases) {
    TObjectExpression expression(c.expression);
    EXPECT_EQ(c.wildcardMatch, expression.Match(c.name, false)) << c.expression << " " << c.name;
    EXPECT_EQ(c.exactMatch, expression.Match(c.name, true)) << c.expression << " " << c.name;
  }
}

}  // namespace
