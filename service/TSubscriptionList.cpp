#include "service/TSubscriptionList.h"

#include <unistd.h>

#include <utility>
#include <vector>

#include "base/TException.h"
#include "toi/TToiInformationObserverCaller.h"

TSubscriptionList::TSubscriptionList(TIpcClient* client) : TSubscriptionList(client, nullptr) {}

TSubscriptionList::TSubscriptionList(TIpcClient* client, TNotifier notifier)
    : tracker_(TTracker::GetProcessTracker()),
      client_(client),
      ownUid_(geteuid()),
      notifier_(std::move(notifier)) {
  if (!notifier_) {
    notifier_ = [this](const std::string& address, TNotification notification,
                       const TStringList& names) {
      TToiInformationObserverCaller caller(client_, address);
      if (notification == TNotification::eChanged) {
        caller.OnObjectsChanged(names);
      } else {
        caller.OnObjectsRemoved(names);
      }
    };
  }
}

TSubscriptionList::~TSubscriptionList() = default;

void TSubscriptionList::SetAccess(const ICallerCredentials* callers, TReadCheck mayRead) {
  callers_ = callers;
  mayRead_ = std::move(mayRead);
}

bool TSubscriptionList::IsBounded(const TPeerCredentials* subscriber) const {
  return subscriber && subscriber->uid != 0 && subscriber->uid != ownUid_;
}

void TSubscriptionList::Count(const TItem& item, bool added) {
  if (!IsBounded(item.subscriber.get())) return;
  size_t& count = perUser_[item.subscriber->uid];
  if (added) {
    ++count;
  } else if (--count == 0) {
    perUser_.erase(item.subscriber->uid);
  }
}

bool TSubscriptionList::Add(const std::string& expression, int id, const std::string& address) {
  TItem item{TObjectExpression(expression), id, address};
  const TPeerCredentials* caller = callers_ ? callers_->GetCallerCredentials() : nullptr;
  if (caller) item.subscriber = std::make_shared<const TPeerCredentials>(*caller);
  const bool held = items_.count(item) != 0;
  if (items_.size() >= kMaxItems && !held) {
    tracker_->Warning("TSubscriptionList: %zu subscriptions held; '%s' of %s refused",
                      items_.size(), expression.c_str(), address.c_str());
    throw TStorageLimitException("Too many subscriptions");
  }
  if (!held && IsBounded(caller)) {
    auto found = perUser_.find(caller->uid);
    if (found != perUser_.end() && found->second >= kMaxItemsPerUser) {
      tracker_->Warning("TSubscriptionList: uid %u holds %zu subscriptions; '%s' of %s refused",
                        static_cast<unsigned>(caller->uid), found->second, expression.c_str(),
                        address.c_str());
      throw TStorageLimitException("Too many subscriptions");
    }
  }
  auto [position, inserted] = items_.insert(std::move(item));
  if (inserted) Count(*position, true);
  mostRecent_ = *position;
  return inserted;
}

template <typename TPredicate>
void TSubscriptionList::RemoveIf(TPredicate predicate) {
  for (auto it = items_.begin(); it != items_.end();) {
    if (predicate(*it)) {
      Count(*it, false);
      it = items_.erase(it);
    } else {
      ++it;
    }
  }
}

void TSubscriptionList::Remove(const std::string& expression, const std::string& address) {
  RemoveIf([&](const TItem& item) {
    return item.expression.GetString() == expression && item.address == address;
  });
}

void TSubscriptionList::RemoveAll(const std::string& address) {
  RemoveIf([&](const TItem& item) { return item.address == address; });
}

void TSubscriptionList::RemoveAll(int id) {
  RemoveIf([&](const TItem& item) { return item.id == id; });
}

bool TSubscriptionList::Match(const std::string& name, bool exact) const {
  for (const TItem& item : items_) {
    if (item.expression.Match(name, exact)) return true;
  }
  return false;
}

void TSubscriptionList::EnumerateObject(const std::string& name) const {
  if (!mostRecent_ || items_.count(*mostRecent_) == 0) return;
  if (mostRecent_->expression.Match(name, false)) {
    Deliver(*mostRecent_, TNotification::eChanged, name);
  }
}

void TSubscriptionList::DispatchObjectChanged(const std::string& name) const {
  Dispatch(name, TNotification::eChanged);
}

void TSubscriptionList::DispatchObjectRemoved(const std::string& name) const {
  Dispatch(name, TNotification::eRemoved);
}

// The matching items are collected first and each is checked again just before its call: a
// delivery may lead to subscriptions being removed (or added), and the set must not be walked
// while it changes. An item removed meanwhile is not called; one added meanwhile waits for the
// next change.
void TSubscriptionList::Dispatch(const std::string& name, TNotification notification) const {
  std::vector<TItem> matching;
  for (const TItem& item : items_) {
    if (item.expression.Match(name, false)) matching.push_back(item);
  }
  for (const TItem& item : matching) {
    if (items_.count(item) != 0) Deliver(item, notification, name);
  }
}

void TSubscriptionList::Deliver(const TItem& item, TNotification notification,
                                const std::string& name) const {
  if (item.subscriber && mayRead_ && !mayRead_(*item.subscriber, name)) return;
  try {
    notifier_(item.address, notification, TStringList{name});
  } catch (const TException&) {
    // An unreachable subscriber misses this notification only; the others still get theirs.
  }
}
