// The cache's store alone: the names expressions cover, the bounds, fetches a drop overtakes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "client/TInfoCache.h"

namespace {

using TLookup = TInfoCache::TLookup;

// Fetches name with the result value (absent when value is null) and no drop in between.
void Fetched(TInfoCache& cache, const std::string& name, const char* value) {
  const auto ticket = cache.BeginFetch(name);
  cache.EndFetch(name, ticket, true, value == nullptr, value != nullptr ? value : "Unknown object");
}

TLookup Look(TInfoCache& cache, const std::string& name) {
  std::string text;
  return cache.Find(name, text);
}

TEST(TInfoCacheTest, ExpressionsCoverNamesByTheServiceRules) {
  TInfoCache cache;
  for (const char* expression : {"a.b.*", "x", "c*", "*"}) cache.AddExpression(expression);
  const std::pair<const char*, size_t> cases[] = {{"a.b.c", 2}, {"a.b.c.d", 2}, {"x", 2},
                                                  {"c*", 2},    {"a.b.", 1},    {"a.bc", 1},
                                                  {"cd", 1},    {"a.b", 1},     {"", 0}};
  for (const auto& [name, count] : cases) EXPECT_EQ(count, cache.Covering(name).size()) << name;
}

TEST(TInfoCacheTest, DropsOvertakingAFetchSpoilOnlyItsName) {
  TInfoCache cache;
  const std::function<void()> drops[] = {[&] { cache.Drop("n"); }, [&] { cache.DropAll(); }};
  for (const auto& drop : drops) {
    const auto ticket = cache.BeginFetch("n");
    const auto other = cache.BeginFetch("o");
    const auto late = cache.BeginFetch("n");
    drop();
    const auto after = cache.BeginFetch("n");
    cache.EndFetch("n", ticket, true, false, "old");
    EXPECT_EQ(TLookup::eMiss, Look(cache, "n"));
    cache.EndFetch("n", late, true, false, "old");
    EXPECT_EQ(TLookup::eMiss, Look(cache, "n"));
    cache.EndFetch("n", after, true, false, "new");
    EXPECT_EQ(TLookup::eValue, Look(cache, "n"));
    cache.EndFetch("o", other, true, true, "Unknown object");
    EXPECT_EQ(&drop == &drops[0] ? TLookup::eAbsent : TLookup::eMiss, Look(cache, "o"));
    cache.DropAll();
  }
}

TEST(TInfoCacheTest, LeastRecentlyReadGoFirstWithinEntriesAndBytes) {
  TInfoCache cache;
  cache.SetLimits(2, 100);
  Fetched(cache, "a", "1");
  Fetched(cache, "b", nullptr);
  EXPECT_EQ(TLookup::eValue, Look(cache, "a"));
  Fetched(cache, "c", "3");
  EXPECT_EQ(TLookup::eMiss, Look(cache, "b"));
  Fetched(cache, "b", nullptr);
  EXPECT_EQ(TLookup::eAbsent, Look(cache, "b"));
  EXPECT_EQ(TLookup::eMiss, Look(cache, "a"));
  // Bytes count names and values (or texts): b is 15, c 2, so "dd" "12" is one too many.
  cache.SetLimits(10, 15 + 2 + 3);
  Fetched(cache, "dd", "12");
  EXPECT_EQ(2u, cache.GetEntryCount());
  EXPECT_EQ(TLookup::eMiss, Look(cache, "c"));
  Fetched(cache, "big", std::string(30, 'x').c_str());
  EXPECT_EQ(TLookup::eMiss, Look(cache, "big"));
}

}  // namespace
