// The store behind TInfoClient::Cache: copies of values (or the fact that a name is absent)
// that readers on any thread take from memory, bounded in entries and bytes and emptied from
// the least recently read end. It knows nothing of the service: TInfoClient fetches, and the
// client's observer thread and own writes drop entries. One mutex guards everything; every
// operation holds it only for a map lookup and a list splice.
//
// The race it closes: a fetch that started before a drop of its name (a change notification,
// an own write, a lost connection) must not put the value it read back afterwards, or a stale
// value would stay until the next change. So a fetch takes a ticket first (BeginFetch) and
// its result is kept only when no drop of that name, and no DropAll, came in between.
//
// Which names are cached: those matching one of the expressions given to AddExpression, under
// the service's own rules: a name; a prefix ending in ".*", which matches every longer name
// starting with the prefix ("cfg.*" matches "cfg.a" and "cfg.a.b", not "cfg." nor "cfg");
// "*" alone, which matches every name that is not empty. The matching is written again here
// because the library does not link the service's own code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class TInfoCache final {
 public:
  // Bounds unless SetLimits says otherwise. Bytes count the names and values held.
  static constexpr size_t kDefaultMaxEntries = 4096;
  static constexpr size_t kDefaultMaxBytes = 1024 * 1024;
  // At most this many expressions, so that the match on a miss stays a short loop.
  static constexpr size_t kMaxExpressions = 256;

  enum class TLookup { eMiss, eValue, eAbsent };
  // What a fetch must show to be kept: the DropAll count and the drops of its name seen at
  // its start.
  struct TTicket {
    uint64_t epoch;
    uint64_t drops;
  };

  // Adds the expression; false when kMaxExpressions are held already. An expression already
  // held is accepted again.
  bool AddExpression(const std::string& expression);
  bool HasExpressions() const;
  // The held expressions that match the name.
  std::vector<std::string> Covering(const std::string& name) const;
  // Drops entries until both bounds hold.
  void SetLimits(size_t entries, size_t bytes);

  // eValue: text is the value; eAbsent: text is the refusal's text. Marks the entry read.
  TLookup Find(const std::string& name, std::string& text);

  TTicket BeginFetch(const std::string& name);
  // Ends the fetch; keeps its result (a value, or with absent the refusal's text) when keep is
  // true, the ticket is still valid, and the entry fits the bounds.
  void EndFetch(const std::string& name, const TTicket& ticket, bool keep, bool absent,
                const std::string& text);

  void Drop(const std::string& name);
  void DropAll();

  size_t GetEntryCount() const;

 private:
  struct TEntry {
    std::string text;
    bool absent = false;
    std::list<const std::string*>::iterator recency;
  };
  struct TPending {
    int fetches = 0;
    uint64_t drops = 0;
  };

  static bool Matches(const std::string& expression, const std::string& name);
  static size_t Size(const std::string& name, const TEntry& entry) {
    return name.size() + entry.text.size();
  }
  void Erase(std::unordered_map<std::string, TEntry>::iterator entry);
  void Trim();

  mutable std::mutex mutex_;
  std::vector<std::string> expressions_;
  size_t maxEntries_ = kDefaultMaxEntries;
  size_t maxBytes_ = kDefaultMaxBytes;
  size_t bytes_ = 0;
  uint64_t epoch_ = 0;
  std::unordered_map<std::string, TEntry> entries_;
  // Most recently read first; the pointers are the keys of entries_, which stay in place.
  std::list<const std::string*> recency_;
  std::unordered_map<std::string, TPending> pending_;
};
