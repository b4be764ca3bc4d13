#include "client/TInfoCache.h"

#include <algorithm>

#include "toi/TObjectExpression.h"

bool TInfoCache::Matches(const std::string& expression, const std::string& name) {
  return TObjectExpression(expression).Match(name, false);
}

bool TInfoCache::AddExpression(const std::string& expression) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(expressions_.begin(), expressions_.end(), expression) != expressions_.end()) {
    return true;
  }
  if (expressions_.size() >= kMaxExpressions) return false;
  expressions_.push_back(expression);
  return true;
}

bool TInfoCache::HasExpressions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !expressions_.empty();
}

std::vector<std::string> TInfoCache::Covering(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> covering;
  for (const std::string& expression : expressions_) {
    if (Matches(expression, name)) covering.push_back(expression);
  }
  return covering;
}

void TInfoCache::SetLimits(size_t entries, size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  maxEntries_ = entries;
  maxBytes_ = bytes;
  Trim();
}

TInfoCache::TLookup TInfoCache::Find(const std::string& name, std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = entries_.find(name);
  if (found == entries_.end()) return TLookup::eMiss;
  if (found->second.recency != recency_.begin()) {
    recency_.splice(recency_.begin(), recency_, found->second.recency);
  }
  text = found->second.text;
  return found->second.absent ? TLookup::eAbsent : TLookup::eValue;
}

TInfoCache::TTicket TInfoCache::BeginFetch(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  TPending& pending = pending_[name];
  ++pending.fetches;
  return {epoch_, pending.drops};
}

void TInfoCache::EndFetch(const std::string& name, const TTicket& ticket, bool keep, bool absent,
                          const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto pending = pending_.find(name);
  if (pending == pending_.end()) return;  // a BeginFetch always comes first
  const bool valid = ticket.epoch == epoch_ && ticket.drops == pending->second.drops;
  if (--pending->second.fetches == 0) pending_.erase(pending);
  if (!keep || !valid || maxEntries_ == 0 || name.size() + text.size() > maxBytes_) return;
  const auto old = entries_.find(name);
  if (old != entries_.end()) Erase(old);
  const auto inserted = entries_.emplace(name, TEntry{text, absent, {}}).first;
  recency_.push_front(&inserted->first);
  inserted->second.recency = recency_.begin();
  bytes_ += Size(name, inserted->second);
  Trim();
}

void TInfoCache::Drop(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto pending = pending_.find(name);
  if (pending != pending_.end()) ++pending->second.drops;
  const auto found = entries_.find(name);
  if (found != entries_.end()) Erase(found);
}

void TInfoCache::DropAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++epoch_;
  entries_.clear();
  recency_.clear();
  bytes_ = 0;
}

size_t TInfoCache::GetEntryCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void TInfoCache::Erase(std::unordered_map<std::string, TEntry>::iterator entry) {
  bytes_ -= Size(entry->first, entry->second);
  recency_.erase(entry->second.recency);
  entries_.erase(entry);
}

void TInfoCache::Trim() {
  while (!recency_.empty() && (entries_.size() > maxEntries_ || bytes_ > maxBytes_)) {
    Erase(entries_.find(*recency_.back()));
  }
}
