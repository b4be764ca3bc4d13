#include <gtest/gtest.h>

#include "service/TObjectExpression.h"

namespace {

struct TCase {
  const char* expression;
  const char* name;
  bool wildcardMatch;
  bool exactMatch;
};

class TObjectExpressionTest : public ::testing::TestWithParam<TCase> {};

TEST_P(TObjectExpressionTest, MatchesByTheWildcardAndExactRules) {
  const TCase& c = GetParam();
  TObjectExpression expression(c.expression);
  EXPECT_EQ(c.wildcardMatch, expression.Match(c.name, false))
      << "'" << c.expression << "' against '" << c.name << "' as wildcard";
  EXPECT_EQ(c.exactMatch, expression.Match(c.name, true))
      << "'" << c.expression << "' against '" << c.name << "' exactly";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TObjectExpressionTest,
    ::testing::Values(
        // A wildcard spans one or more further bytes, components included.
        TCase{"cfg.locale.*", "cfg.locale.ui", true, false}, TCase{"a.b.*", "a.b.c", true, false},
        TCase{"a.b.*", "a.b.c.d", true, false},
        // The "*" needs at least one byte, and the dot is part of the prefix.
        TCase{"a.b.*", "a.b.", false, false}, TCase{"a.b.*", "a.b", false, false},
        TCase{"a.b.*", "a.bc", false, false}, TCase{"cfg.locale.*", "cfg.locale", false, false},
        // The expression text itself matches in both modes.
        TCase{"a.b.*", "a.b.*", true, true},
        // "*" alone matches every name that is not empty.
        TCase{"*", "x", true, false}, TCase{"*", "cfg.a.b", true, false},
        TCase{"*", "", false, false},
        // A "*" not right after a dot, or not at the end, is an ordinary byte.
        TCase{"cfg*", "cfg.x", false, false}, TCase{"cfg*", "cfg*", true, true},
        TCase{"a.*.b", "a.x.b", false, false}, TCase{"a.*.b", "a.*.b", true, true},
        TCase{"*.x", "a.x", false, false},
        // Plain names match only themselves, byte-wise and case-sensitively.
        TCase{"cfg.x", "cfg.x", true, true}, TCase{"cfg.x", "cfg.xy", false, false},
        TCase{"CFG.*", "cfg.x", false, false}, TCase{"cfg.*", "CFG.x", false, false},
        TCase{"", "", true, true}, TCase{"", "a", false, false}));

}  // namespace
