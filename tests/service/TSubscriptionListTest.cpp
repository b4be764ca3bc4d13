#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/TException.h"
#include "service/TSubscriptionList.h"

namespace {

class TSubscriptionListTest : public ::testing::Test {
 protected:
  using TNotification = TSubscriptionList::TNotification;
  // Records "changed <address> <name>" / "removed <address> <name>" per delivery, then runs
  // the optional hook (which may change the list or throw, as a real delivery could).
  TSubscriptionList list_{
      nullptr, [this](const std::string& address, TNotification kind, const TStringList& names) {
        EXPECT_EQ(1u, names.size());
        calls_.push_back((kind == TNotification::eChanged ? "changed " : "removed ") + address +
                         " " + names.front());
        if (hook_) hook_(address);
      }};
  std::vector<std::string> calls_;
  std::function<void(const std::string& address)> hook_;
};

// An equal item is held once, another id makes a second item; dispatch goes to the matching
// items in expression, id, address order.
TEST_F(TSubscriptionListTest, DispatchGoesToMatchingItemsOnceInExpressionIdAddressOrder) {
  list_.Add("cfg.x", 1, "b");
  EXPECT_TRUE(list_.Add("cfg.*", 2, "c"));
  EXPECT_FALSE(list_.Add("cfg.*", 2, "c"));
  list_.Add("cfg.*", -1, "d");
  list_.Add("cfg.*", 2, "a");
  EXPECT_TRUE(list_.Add("cfg.*", 3, "a"));
  list_.Add("var.*", 1, "e");
  list_.DispatchObjectRemoved("cfg.x");
  EXPECT_EQ((std::vector<std::string>{"removed d cfg.x", "removed a cfg.x", "removed c cfg.x",
                                      "removed a cfg.x", "removed b cfg.x"}),
            calls_);
}

TEST_F(TSubscriptionListTest, RemoveTakesTheExactExpressionOfThatAddressRemoveAllByAddressOrId) {
  list_.Add("cfg.*", 1, "a");
  list_.Add("cfg.*", 2, "a");
  list_.Add("cfg.x", 1, "a");
  list_.Add("cfg.*", 1, "b");
  list_.Add("cfg.x", 3, "c");
  list_.Add("cfg.x", 4, "d");
  list_.Remove("cfg.*", "a");
  list_.DispatchObjectChanged("cfg.x");
  EXPECT_EQ((std::vector<std::string>{"changed b cfg.x", "changed a cfg.x", "changed c cfg.x",
                                      "changed d cfg.x"}),
            calls_);
  calls_.clear();
  list_.RemoveAll(std::string("a"));
  list_.RemoveAll(3);
  list_.DispatchObjectChanged("cfg.x");
  EXPECT_EQ((std::vector<std::string>{"changed b cfg.x", "changed d cfg.x"}), calls_);
  // Clients cannot grow the list without end: past the limit a new item is refused with 202,
  // an item already held is still accepted, and removing makes room again.
  for (size_t i = 0; i + 2 < TSubscriptionList::kMaxItems; ++i) {  // b and d are held too
    list_.Add("n." + std::to_string(i), 1, "flood");
  }
  EXPECT_THROW(list_.Add("n.more", 1, "flood"), TStorageLimitException);
  EXPECT_FALSE(list_.Add("n.0", 1, "flood"));
  list_.RemoveAll(std::string("flood"));
  EXPECT_TRUE(list_.Add("n.more", 1, "flood"));
}

TEST_F(TSubscriptionListTest, EnumerationGoesOnlyToTheMostRecentlyAddedItem) {
  list_.EnumerateObject("cfg.x");  // nothing added yet
  list_.Add("cfg.*", 1, "a");
  list_.Add("cfg.*", 1, "b");
  list_.EnumerateObject("cfg.x");
  list_.EnumerateObject("var.x");  // does not match the newest item
  // Re-adding an existing item makes it the most recent one again.
  list_.Add("cfg.*", 1, "a");
  list_.EnumerateObject("cfg.y");
  EXPECT_EQ((std::vector<std::string>{"changed b cfg.x", "changed a cfg.y"}), calls_);
  // Once the most recent item is gone, enumeration goes nowhere.
  list_.Remove("cfg.*", "a");
  list_.EnumerateObject("cfg.z");
  EXPECT_EQ(2u, calls_.size());
}

// A subscriber that cannot be reached is skipped and keeps its subscription; a failure
// outside the exception family is a bug and ends the dispatch. A notification may remove its
// own subscriber and the next one, and add another.
TEST_F(TSubscriptionListTest, DeliveriesThatFailOrChangeTheListAreSafe) {
  list_.Add("cfg.*", 1, "a");
  list_.Add("cfg.*", 1, "b");
  list_.Add("cfg.*", 1, "c");
  hook_ = [](const std::string& address) {
    if (address == "a") throw TException("peer gone");
  };
  list_.DispatchObjectChanged("cfg.x");
  EXPECT_EQ(3u, calls_.size());
  hook_ = [](const std::string&) { throw std::runtime_error("bug"); };
  EXPECT_THROW(list_.DispatchObjectChanged("cfg.x"), std::runtime_error);
  EXPECT_EQ(4u, calls_.size());
  calls_.clear();
  hook_ = [this](const std::string& address) {
    if (address != "a") return;
    list_.RemoveAll(std::string("a"));
    list_.Remove("cfg.*", "b");
    list_.Add("cfg.*", 1, "0");
  };
  list_.DispatchObjectChanged("cfg.x");
  list_.DispatchObjectChanged("cfg.x");
  EXPECT_EQ((std::vector<std::string>{"changed a cfg.x", "changed c cfg.x", "changed 0 cfg.x",
                                      "changed c cfg.x"}),
            calls_);
}

}  // namespace
