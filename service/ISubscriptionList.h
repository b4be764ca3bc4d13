// The subscriptions of the service's clients as the service sees them: who wants which
// objects (by exact name or by wildcard expression, see TObjectExpression) and how they are
// told. Runs on the loop thread; the dispatch operations call the subscribers synchronously,
// one call per matching subscription, before they return.
#pragma once

#include <string>

class ISubscriptionList {
 public:
  // Inserts (expression, id, address) unless an equal item is held; either way that item
  // becomes the most recently added one. True when an item was inserted.
  virtual bool Add(const std::string& expression, int id, const std::string& address) = 0;
  // Removes every item with exactly this expression text and this address, whatever its id.
  virtual void Remove(const std::string& expression, const std::string& address) = 0;
  // Removes every item of a subscriber address, respectively of an application instance id.
  virtual void RemoveAll(const std::string& address) = 0;
  virtual void RemoveAll(int id) = 0;
  // True when some item's expression matches the name (exactly, or as a wildcard).
  virtual bool Match(const std::string& name, bool exact) const = 0;
  // Tells the most recently added item, if its expression matches, that the object exists.
  virtual void EnumerateObject(const std::string& name) const = 0;
  // Tells every matching item that the object changed, respectively disappeared. A
  // subscriber that cannot be reached is skipped; its subscription stays.
  virtual void DispatchObjectChanged(const std::string& name) const = 0;
  virtual void DispatchObjectRemoved(const std::string& name) const = 0;
  virtual ~ISubscriptionList() = default;

 protected:
  ISubscriptionList() = default;
  ISubscriptionList(const ISubscriptionList&) = delete;
  ISubscriptionList& operator=(const ISubscriptionList&) = delete;
};
