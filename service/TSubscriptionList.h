// The subscriptions of the service's clients: an ordered set of (expression, subscriber id,
// subscriber address) items, each held once, and the most recently added item, which is the
// one a new subscriber's enumeration is sent to. Dispatch calls each matching subscriber's
// observer once per item, one name per call, synchronously. A subscriber that cannot be
// reached loses that one notification and keeps its subscription. Owned by start-up; runs on
// the loop thread.
//
// With SetAccess, every item also keeps the credentials of the client that made it, taken
// from the request being served; a notification or enumeration goes to an item only when the
// read check allows that subscriber the name, and one user (other than root and the daemon's
// own) holds at most kMaxItemsPerUser items. The bound is per user rather than per
// connection because subscriptions outlive the connection that made them: a client that
// reconnects would get a fresh allowance each time, while its user stays the same.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "base/TStringList.h"
#include "base/TTracker.h"
#include "ipc/ICallerCredentials.h"
#include "service/ISubscriptionList.h"
#include "toi/TObjectExpression.h"

class TIpcClient;

class TSubscriptionList final : public ISubscriptionList {
 public:
  struct TItem {
    TObjectExpression expression;
    int id;
    std::string address;
    // Who subscribed; nullptr for a subscription made inside the process. Not part of the
    // order: the same subscription made again by another client stays one item.
    std::shared_ptr<const TPeerCredentials> subscriber = nullptr;

    // Byte-wise by expression text, then by signed id, then byte-wise by address.
    bool operator<(const TItem& other) const {
      return std::tie(expression, id, address) <
             std::tie(other.expression, other.id, other.address);
    }
  };

  enum class TNotification { eChanged, eRemoved };
  // Delivers one notification to the observer at address; throws a TException when the
  // subscriber cannot be reached.
  using TNotifier = std::function<void(const std::string& address, TNotification notification,
                                       const TStringList& names)>;

  // Notifies through TToiInformationObserverCaller on the client (not owned).
  explicit TSubscriptionList(TIpcClient* client);
  // Notifies through the given notifier instead of the IPC; the client is not used.
  TSubscriptionList(TIpcClient* client, TNotifier notifier);
  ~TSubscriptionList() override;

  // Clients are untrusted and the list lives as long as the daemon: beyond this many items
  // a new subscription is refused with 202 (and traced) instead of growing the daemon's
  // memory without end. A box's applications hold a few hundred.
  static constexpr size_t kMaxItems = 10000;
  // The share of one user, so that one application cannot take the whole list and refuse
  // every other one.
  static constexpr size_t kMaxItemsPerUser = 1000;

  // Whether a subscriber may learn of the name.
  using TReadCheck = std::function<bool(const TPeerCredentials& subscriber, const std::string&)>;
  // callers (not owned, outliving the list) tells who made the request being served;
  // mayRead filters what each subscriber is told.
  void SetAccess(const ICallerCredentials* callers, TReadCheck mayRead);

  // ISubscriptionList
  bool Add(const std::string& expression, int id, const std::string& address) override;
  void Remove(const std::string& expression, const std::string& address) override;
  void RemoveAll(const std::string& address) override;
  void RemoveAll(int id) override;
  bool Match(const std::string& name, bool exact) const override;
  void EnumerateObject(const std::string& name) const override;
  void DispatchObjectChanged(const std::string& name) const override;
  void DispatchObjectRemoved(const std::string& name) const override;

 private:
  using TItemSet = std::set<TItem>;

  void Dispatch(const std::string& name, TNotification notification) const;
  // One delivery; a TException-family failure is dropped without a trace.
  void Deliver(const TItem& item, TNotification notification, const std::string& name) const;
  template <typename TPredicate>
  void RemoveIf(TPredicate predicate);

  // Keeps the per-user counts when an item is added or removed.
  void Count(const TItem& item, bool added);
  bool IsBounded(const TPeerCredentials* subscriber) const;

  TTracker* tracker_;
  TIpcClient* client_;
  const ICallerCredentials* callers_ = nullptr;
  TReadCheck mayRead_;
  uid_t ownUid_;
  std::map<uid_t, size_t> perUser_;
  TNotifier notifier_;
  TItemSet items_;
  // A copy, not an iterator: the item may be removed (even during a notification) and the
  // enumeration must then go nowhere rather than to a dangling entry.
  std::optional<TItem> mostRecent_;
};
