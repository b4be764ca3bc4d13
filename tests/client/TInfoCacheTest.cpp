// The cache's store alone: the names expressions cover, the bounds, fetches a drop overtakes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "client/TInfoCache.h"

namespace {

using TLookup = TInfoCache::TLookup;

TEST(TInfoCacheTest, ExpressionsCoverNamesByTheServiceRules) {
  TInfoCache cache;
  for (const char* expression : {"a.b.*", "x", "c*", "*"}) cache.AddExpression(expression);
  const std::pair<const char*, size_t> cases[] = {{"a.b.c", 2}, {"a.b.c.d", 2}, {"x", 2},
                                                  {"c*", 2},    {"a.b.", 1},    {"a.bc", 1},
                                                  {"cd", 1},    {"a.b", 1},     {"", 0}};
  for (const auto& [name, count] : cases) EXPECT_EQ(count, cache.Covering(name).size()) << name;
}

// A fetch that began before a drop of its name (or of all) stores nothing.
TEST(TInfoCacheTest, DropsOvertakingAFetchSpoilOnlyItsName) {
  TInfoCache cache;
  std::string text;
  for (const bool all : {false, true}) {
    const auto ticket = cache.BeginFetch("n"), other = cache.BeginFetch("o");
    all ? cache.DropAll() : cache.Drop("n");
    const auto after = cache.BeginFetch("n");
    cache.EndFetch("n", ticket, true, false, "old");
    EXPECT_EQ(TLookup::eMiss, cache.Find("n", text));
    cache.EndFetch("n", after, true, false, "new");
    EXPECT_EQ(TLookup::eValue, cache.Find("n", text));
    cache.EndFetch("o", other, true, true, "Unknown object");
    EXPECT_EQ(all ? TLookup::eMiss : TLookup::eAbsent, cache.Find("o", text));
    cache.DropAll();
  }
}

// The least recently read go first, within entries and bytes (names and values or texts).
TEST(TInfoCacheTest, LeastRecentlyReadGoFirstWithinEntriesAndBytes) {
  TInfoCache cache;
  std::string text;
  auto fetched = [&](const std::string& name, const char* value) {  // absent when null
    cache.EndFetch(name, cache.BeginFetch(name), true, !value, value ? value : "Unknown object");
  };
  cache.SetLimits(2, 100);
  fetched("a", "1");
  fetched("b", nullptr);
  EXPECT_EQ(TLookup::eValue, cache.Find("a", text));
  fetched("c", "3");
  EXPECT_EQ(TLookup::eMiss, cache.Find("b", text));
  fetched("b", nullptr);
  EXPECT_EQ(TLookup::eAbsent, cache.Find("b", text));
  EXPECT_EQ(TLookup::eMiss, cache.Find("a", text));
  cache.SetLimits(10, 15 + 2 + 3);  // b is 15, c 2, so "dd" "12" is one too many
  fetched("dd", "12");
  EXPECT_EQ(2u, cache.GetEntryCount());
  EXPECT_EQ(TLookup::eMiss, cache.Find("c", text));
  fetched("big", std::string(30, 'x').c_str());
  EXPECT_EQ(TLookup::eMiss, cache.Find("big", text));
}

}  // namespace
