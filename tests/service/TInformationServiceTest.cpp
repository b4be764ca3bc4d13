#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/TException.h"
#include "service/TInformationAdapter.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"
#include "tests/TestSupport.h"

namespace {

using TStorageType = IToiInformationService::TStorageType;
constexpr TStorageType kPermanent = IToiInformationService::ePermanent;
constexpr TStorageType kVolatile = IToiInformationService::eVolatile;

using TLog = std::vector<std::string>;

// An adapter on the map-backed base whose routing answers are set by the test and whose every
// effect goes to the shared log. Writes report like a real storage: a set always, an unset
// when held.
class TFakeAdapter final : public TInformationAdapter {
 public:
  TFakeAdapter(std::string label, TLog* log, std::set<int> types = {}, std::string prefix = "")
      : label_(std::move(label)), log_(log), types_(std::move(types)), prefix_(std::move(prefix)) {}
  ~TFakeAdapter() override { log_->push_back("delete " + label_); }

  // Holds an object without reporting it, as a loaded adapter would.
  void Hold(const std::string& name, const std::string& value) { objects_[name] = value; }
  void Drop(const std::string& name) { objects_.erase(name); }
  void ReportSet(const std::string& name) { callback_->OnSetObject(this, name); }
  void ReportUnset(const std::string& name) { callback_->OnUnsetObject(this, name); }
  IInformationAdapterCallback* Callback() const { return callback_; }

  void InitializeObjects() override {
    log_->push_back("init " + label_ + (callback_ ? " with callback" : " without callback"));
  }
  bool IsComputedOnRead(const std::string&) const override { return false; }
  bool GetObjectToFile(const std::string& name, const std::string& fileName) const override {
    log_->push_back("tofile " + label_ + " " + name + " " + fileName);
    return true;
  }
  bool IsStorageType(TStorageType type) const override { return types_.count(type) != 0; }
  bool SupportsObject(const std::string& name) const override {
    return name.compare(0, prefix_.size(), prefix_) == 0;
  }
  void SetObject(const std::string& name, const std::string& value) override {
    log_->push_back("set " + label_ + " " + name + "=" + value);
    objects_[name] = value;
    callback_->OnSetObject(this, name);
  }
  void SetObjectFromFile(const std::string& name, const std::string& fileName) override {
    log_->push_back("fromfile " + label_ + " " + name + " " + fileName);
  }
  void UnsetObject(const std::string& name) override {
    log_->push_back("unset " + label_ + " " + name);
    if (objects_.erase(name) != 0) callback_->OnUnsetObject(this, name);
  }
  void FetchObjects() override { log_->push_back("fetch " + label_); }

 private:
  std::string label_;
  TLog* log_;
  std::set<int> types_;
  std::string prefix_;
};

class TFakeMonitor final : public ILocalInformationMonitor {
 public:
  explicit TFakeMonitor(TLog* log) : log_(log) {}
  void ObjectUpdate(const std::string& name) override { log_->push_back("monitor " + name); }

 private:
  TLog* log_;
};

class TInformationServiceTest : public ::testing::Test {
 protected:
  // Builds the service, checking subscriber addresses unless standalone; aliases holds
  // (name, alias) pairs for the alias file.
  void Create(bool standalone,
              const std::vector<std::pair<std::string, std::string>>& aliases = {}) {
    service_.reset();
    std::string aliasFile, xml = "<Objects>";
    for (const auto& [name, alias] : aliases) {
      xml += "<Object><Name>" + name + "</Name><Alias>" + alias + "</Alias></Object>";
    }
    if (!aliases.empty())
      test::WriteFile(aliasFile = root_.File("aliases.xml"), xml + "</Objects>");
    service_ = std::make_unique<TInformationService>(aliasFile, &subscriptions_);
    service_->SetAddressCheck(!standalone);
    service_->AddMonitor(std::make_unique<TFakeMonitor>(&log_));
  }
  TFakeAdapter* Add(const std::string& label, std::set<int> types = {},
                    const std::string& prefix = "") {
    auto* adapter = new TFakeAdapter(label, &log_, std::move(types), prefix);
    service_->AddAdapter(std::unique_ptr<IInformationAdapter>(adapter));
    adapter->SetCallback(service_.get());
    return adapter;
  }
  std::string Get(const std::string& name) {
    std::string value;
    service_->GetObject(name, value);
    return value;
  }
  // The text of the 201 refusal of request.
  template <typename TRequest>
  std::string Refused(TRequest request) {
    const std::string refusal = test::Refusal(request);
    EXPECT_EQ(0u, refusal.rfind("201 ", 0)) << refusal;
    return refusal.substr(std::min<size_t>(4, refusal.size()));
  }
  test::TScopedProcessTracker tracker_;
  test::TTempDir root_;
  TLog log_;
  TSubscriptionList subscriptions_{
      nullptr, [this](const std::string& address, TSubscriptionList::TNotification kind,
                      const TStringList& names) {
        log_.push_back(
            (kind == TSubscriptionList::TNotification::eChanged ? "changed " : "removed ") +
            address + " " + names.front());
      }};
  std::unique_ptr<TInformationService> service_;
};

TEST_F(TInformationServiceTest, ReadsAnswerFromTheFirstHolderAndHiddenChangesNotifyNobody) {
  Create(true);
  TFakeAdapter* first = Add("first", {kVolatile});
  TFakeAdapter* second = Add("second", {kVolatile});
  first->Hold("x", "1");
  second->Hold("x", "2");
  second->Hold("y", "3");
  service_->SubscribeObject2("*", 1, "s", false);
  log_.clear();
  EXPECT_EQ("1", Get("x"));
  EXPECT_EQ("3", Get("y"));
  EXPECT_EQ("Unknown object", Refused([&] { Get("z"); }));
  // GetObjects appends up to and including the unknown name, then stops.
  TStringList values{"kept"};
  EXPECT_EQ("Unknown object", Refused([&] { service_->GetObjects({"x", "z", "y"}, values); }));
  EXPECT_EQ((TStringList{"kept", "1", ""}), values);
  second->ReportSet("x");
  EXPECT_TRUE(log_.empty());
  first->ReportSet("x");
  EXPECT_EQ((TLog{"monitor x", "changed s x"}), log_);
}

TEST_F(TInformationServiceTest, WritesGoToTheFirstAdapterTakingTheTypeAndTheName) {
  Create(true);
  Add("files", {kPermanent}, "store.");
  Add("volatile", {kVolatile});
  Add("flash", {kPermanent});
  service_->SetObject("store.a", "1", kPermanent);
  service_->SetObject("cfg.a", "2", kPermanent);
  service_->SetObject("store.b", "3", kVolatile);
  service_->SetObjectFromFile("store.c", "/f", kPermanent);
  service_->UnsetObject("cfg.a", kVolatile);
  EXPECT_EQ((TLog{"set files store.a=1", "monitor store.a", "set flash cfg.a=2", "monitor cfg.a",
                  "set volatile store.b=3", "monitor store.b", "fromfile files store.c /f",
                  "unset volatile cfg.a"}),
            log_);
}

TEST_F(TInformationServiceTest, UiLocaleFirstSetsTheConvertedUiLanguage) {
  Create(true, {{"cfg.ui.language", "cfg.locale.ui"}});
  Add("flash", {kPermanent});
  Add("volatile", {kVolatile});
  service_->SetObject("cfg.locale.ui", "sv-SE", kPermanent);
  service_->SetObject("cfg.locale.ui", "xx-YY", kVolatile);
  // Only the name the client gives counts, not a name that merely contains it.
  service_->SetObject("cfg.locale.uix", "da-DK", kPermanent);
  service_->SetObject("cfg.ui.language", "fi-FI", kPermanent);  // through an alias
  EXPECT_EQ((TLog{"set flash config.uilanguage=swe", "monitor config.uilanguage",
                  "set flash cfg.locale.ui=sv-SE", "monitor cfg.locale.ui",
                  // the flash adapter's values hide the volatile ones
                  "set volatile config.uilanguage=xx-YY", "set volatile cfg.locale.ui=xx-YY",
                  "set flash cfg.locale.uix=da-DK", "monitor cfg.locale.uix",
                  "set flash config.uilanguage=fin", "monitor config.uilanguage",
                  "set flash cfg.locale.ui=fi-FI", "monitor cfg.locale.ui"}),
            log_);
}

TEST_F(TInformationServiceTest, AliasesRouteRequestsAndNameTheClientsInNotifications) {
  Create(true, {{"client.a", "srv.one"}, {"client.a", "srv.two"}, {"client.b", "srv.two"}});
  TFakeAdapter* storage = Add("volatile", {kVolatile});
  storage->Hold("srv.one", "1");
  storage->Hold("srv.two", "2");
  service_->SubscribeObject2("*", 1, "s", false);
  log_.clear();
  // A read takes the last alias; the other requests touch every alias in file order.
  EXPECT_EQ("2", Get("client.a"));
  service_->GetObjectToFile("client.a", "/f");
  service_->SetObject("client.a", "v", kVolatile);
  EXPECT_EQ(
      (TLog{"tofile volatile srv.one /f", "tofile volatile srv.two /f", "set volatile srv.one=v",
            "monitor srv.one", "changed s srv.one", "changed s client.a", "set volatile srv.two=v",
            "monitor srv.two", "changed s srv.two", "changed s client.a", "changed s client.b"}),
      log_);
  EXPECT_TRUE(service_->HasAlias("client.a"));
  EXPECT_FALSE(service_->HasAlias("srv.one"));
  EXPECT_EQ("srv.one", service_->Translate("client.a"));
  EXPECT_EQ("cfg.plain", service_->Translate("cfg.plain"));
}

TEST_F(TInformationServiceTest, UnsetBehindALowerHolderIsARemovalAndBehindAHigherOneIsNothing) {
  Create(true, {{"client.x", "x"}});
  TFakeAdapter* high = Add("high", {kVolatile});
  TFakeAdapter* low = Add("low");
  high->Hold("x", "1");
  low->Hold("x", "2");
  service_->SubscribeObject2("*", 1, "s", false);
  log_.clear();
  service_->UnsetObject("client.x", kVolatile);
  EXPECT_EQ((TLog{"unset high x", "monitor x", "removed s x", "removed s client.x"}), log_);
  EXPECT_EQ("2", Get("x"));
  log_.clear();
  high->Hold("x", "1");
  low->Drop("x");
  low->ReportUnset("x");
  EXPECT_TRUE(log_.empty());
}

TEST_F(TInformationServiceTest, OnlyExactSubscriptionsMakeAdaptersFetch) {
  Create(true, {{"client.a", "srv.a"}});
  TFakeAdapter* adapter = Add("infocast");
  IInformationAdapterCallback* callback = adapter->Callback();
  service_->SubscribeObject2("cfg.*", 1, "s", false);
  service_->SubscribeObject2("*", 1, "s", false);
  EXPECT_FALSE(callback->OnFetchObject(adapter, "cfg.x"));
  EXPECT_FALSE(callback->OnFetchObject(adapter, "srv.a"));
  service_->SubscribeObject2("cfg.x", 1, "s", false);
  service_->SubscribeObject2("client.a", 1, "s", false);
  EXPECT_TRUE(callback->OnFetchObject(adapter, "cfg.x"));
  EXPECT_TRUE(callback->OnFetchObject(adapter, "srv.a"));
  EXPECT_FALSE(callback->OnFetchObject(adapter, "client.a.b"));
}

TEST_F(TInformationServiceTest, WritesWithoutAStorageAreRefusedBeforeAnythingChanges) {
  Create(true);
  Add("files", {kPermanent}, "cfg.");
  Add("volatile", {kVolatile});
  const auto kBadType = static_cast<TStorageType>(2);
  EXPECT_EQ("Invalid storage type", Refused([&] { service_->SetObject("a", "1", kBadType); }));
  EXPECT_EQ("Invalid storage type",
            Refused([&] { service_->UnsetObject("a", static_cast<TStorageType>(-1)); }));
  EXPECT_EQ("No storage for object", Refused([&] { service_->SetObject("a", "1", kPermanent); }));
  EXPECT_EQ("No storage for object",
            Refused([&] { service_->SetObjectFromFile("a", "/f", kPermanent); }));
  // The name has a permanent storage, the companion write of the language has none.
  EXPECT_EQ("No storage for object",
            Refused([&] { service_->SetObject("cfg.locale.ui", "sv-SE", kPermanent); }));
  // Multi-name requests are checked whole (the first name would have had a storage), and
  // lists shorter than the name list are refused.
  const TStringList names{"cfg.a", "b"};
  Refused([&] { service_->SetObjects(names, {"1", "2"}, {kPermanent, kPermanent}); });
  Refused([&] { service_->SetObjects(names, {"1", "2"}, {kPermanent, kBadType}); });
  Refused([&] { service_->UnsetObjects(names, {kPermanent, kPermanent}); });
  Refused([&] {
    service_->SetObjects({"cfg.a", "cfg.locale.ui"}, {"1", "sv-SE"}, {kPermanent, kPermanent});
  });
  Refused([&] { service_->SetObjects(names, {"1"}, {kPermanent, kVolatile}); });
  Refused([&] { service_->SetObjects(names, {"1", "2"}, {kPermanent}); });
  Refused([&] { service_->UnsetObjects(names, {kPermanent}); });
  EXPECT_TRUE(log_.empty());
  service_->SetObjects({"cfg.a", "b"}, {"1", "2", "extra"}, {kPermanent, kVolatile});
  service_->UnsetObjects({"b"}, {kVolatile, kBadType});
  EXPECT_EQ((TLog{"set files cfg.a=1", "monitor cfg.a", "set volatile b=2", "monitor b",
                  "unset volatile b", "monitor b"}),
            log_);
}

TEST_F(TInformationServiceTest, SubscriptionRequestsAreValidatedAddressesOnlyOnThePlatform) {
  Create(false);
  EXPECT_EQ("Invalid expression", Refused([&] { service_->SubscribeObject("", 1, "s"); }));
  EXPECT_EQ("Invalid IPC address", Refused([&] { service_->SubscribeObject("a", 1, "s"); }));
  EXPECT_EQ("Invalid IPC address", Refused([&] { service_->UnsubscribeObject("a", "s"); }));
  EXPECT_EQ("Invalid expression", Refused([&] { service_->UnsubscribeObject("", "s"); }));
  EXPECT_EQ("Invalid IPC address", Refused([&] { service_->UnsubscribeAllObjects("s"); }));
  // Standalone takes any address, except for unsubscribing all.
  Create(true);
  Add("volatile", {kVolatile});
  service_->SubscribeObject("a", 1, "s");
  service_->UnsubscribeObject("a", "s");
  EXPECT_EQ("Invalid expression", Refused([&] { service_->SubscribeObject("", 1, "s"); }));
  EXPECT_EQ("Invalid IPC address", Refused([&] { service_->UnsubscribeAllObjects("s"); }));
  EXPECT_EQ((TLog{"fetch volatile", "fetch volatile"}), log_);
}

TEST_F(TInformationServiceTest, NewSubscriberIsSentTheVisibleObjectsOnce) {
  Create(true, {{"client.x", "cfg.x"}});
  TFakeAdapter* first = Add("first");
  TFakeAdapter* second = Add("second");
  first->Hold("cfg.x", "1");
  second->Hold("cfg.x", "2");
  second->Hold("cfg.y", "3");
  second->Hold("var.z", "4");
  // Each subscription is sent what it matches among the visible objects, under the adapter
  // names and the client names; cfg.x of the lower adapter is hidden.
  service_->SubscribeObjects({"cfg.*", "client.*"}, 1, "s");
  EXPECT_EQ((TLog{"changed s cfg.x", "changed s cfg.y", "fetch first", "fetch second",
                  "changed s client.x", "fetch first", "fetch second"}),
            log_);
  log_.clear();
  service_->SubscribeObject("cfg.*", 1, "s");
  EXPECT_TRUE(log_.empty());
  service_->SubscribeObject("cfg.*", 2, "s");
  EXPECT_EQ((TLog{"changed s cfg.x", "changed s cfg.y", "fetch first", "fetch second"}), log_);
  // Without enumeration nothing is sent until a change.
  log_.clear();
  service_->SubscribeObject2Internal("var.*", "s", false);
  EXPECT_EQ((TLog{"fetch first", "fetch second"}), log_);
}

// Start initialises each adapter after its callback is set, one after the other; the service
// deletes the adapters it holds in list order.
TEST_F(TInformationServiceTest, StartInitialisesAndDestructionDeletesTheAdaptersInListOrder) {
  Create(true);
  for (const char* label : {"a", "b", "c"}) {
    service_->AddAdapter(std::make_unique<TFakeAdapter>(label, &log_));
  }
  TFakeAdapter* removed = Add("d");
  std::unique_ptr<IInformationAdapter> owned = service_->RemoveAdapter(removed);
  service_->Start();
  service_.reset();
  owned.reset();
  EXPECT_EQ((TLog{"init a with callback", "init b with callback", "init c with callback",
                  "delete a", "delete b", "delete c", "delete d"}),
            log_);
}

}  // namespace
