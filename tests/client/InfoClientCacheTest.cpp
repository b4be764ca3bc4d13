// The client's cache against the real daemon. A read answered from memory is told apart from a
// call by stopping the daemon (SIGSTOP): memory still answers, a call times out.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "client/TInfoClient.h"
#include "client/infoclient.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using infoservice::TInfoClient;
using infoservice::TInfoError;
using integration::WaitUntil;

constexpr int kShortTimeoutMs = 300;

const char kDefaults[] =
    "<Objects><Object><Name>k.a</Name><Value>1</Value></Object>"
    "<Object><Name>k.b</Name><Value>b</Value></Object></Objects>\n";

// The value read, or "error CODE".
std::string Read(TInfoClient& client, const std::string& name) {
  try {
    return client.Get(name);
  } catch (const TInfoError& e) {
    return "error " + std::to_string(e.GetCode());
  }
}

class InfoClientCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* canExec = getenv("INFOSERVICE_CAN_EXEC");
    if (canExec != nullptr && std::string(canExec) == "0") GTEST_SKIP() << "cannot start programs";
    test::WriteFile(root_.File("defaults.xml"), kDefaults);
    ASSERT_TRUE(daemon_.StartStandalone({"-d", root_.File("defaults.xml")})) << daemon_.Log();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    daemon_.Process().Signal(SIGCONT);
    EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
  }
  template <typename TCheck>
  void WhileStopped(TCheck check) {
    daemon_.Process().Signal(SIGSTOP);
    check();
    daemon_.Process().Signal(SIGCONT);
  }

  integration::TTempRoot root_;
  integration::TDaemon daemon_{root_};
};

// Which reads memory answers once each name was read: covered names, present or absent, but
// not values the daemon computes on every read.
TEST_F(InfoClientCacheTest, CoveredNamesAnswerFromMemoryComputedAndOthersDoNot) {
  TInfoClient client(daemon_.Address());
  client.Cache("k.*");
  client.Cache("var.utctime");
  client.Cache("x.exact");
  for (const char* name : {"k.a", "k.none", "var.utctime", "x.exact"}) Read(client, name);
  client.SetTimeoutMs(kShortTimeoutMs);
  const std::pair<const char*, std::string> cases[] = {
      {"k.a", "1"},
      {"k.none", "error 201"},
      {"x.exact", "error 201"},
      // Each of these is a call: it times out, and the timeout empties the cache.
      {"var.utctime", "error 300"},
      {"k.a", "error 300"},
  };
  WhileStopped([&] {
    for (const auto& [name, expected] : cases) EXPECT_EQ(expected, Read(client, name)) << name;
  });
}

// Own writes are visible to the next read at once; other clients' writes once notified.
TEST_F(InfoClientCacheTest, WritesReachCachedReaders) {
  TInfoClient client(daemon_.Address());
  TInfoClient other(daemon_.Address());
  client.Cache("k.*");
  const std::string file = root_.File("value");
  test::WriteFile(file, "from file");
  const auto kVolatile = TInfoClient::eVolatile;
  const std::vector<std::string> both = {"k.b", "k.c"};
  const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
      {"k.a", [&] { client.Set("k.a", "2", kVolatile); }, "2"},
      {"k.a", [&] { client.Unset("k.a", kVolatile); }, "1"},
      {"k.new", [&] { client.Set("k.new", "n", kVolatile); }, "n"},
      {"k.new", [&] { client.Unset("k.new", kVolatile); }, "error 201"},
      {"k.b", [&] { client.SetFromFile("k.b", file, kVolatile); }, "from file"},
      {"k.c",
       [&] {
         client.SetObjects(both, {"b2", "c2"}, kVolatile);
       },
       "c2"},
      {"k.c", [&] { client.UnsetObjects(both, kVolatile); }, "error 201"},
  };
  for (const auto& [name, write, expected] : cases) {
    Read(client, name);
    write();
    EXPECT_EQ(expected, Read(client, name)) << name;
  }
  // Another client's creation and removal of a name read as absent.
  ASSERT_EQ("error 201", Read(client, "k.later"));
  other.Set("k.later", "here", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return Read(client, "k.later") == "here"; }));
  other.Unset("k.later", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return Read(client, "k.later") == "error 201"; }));
}

// A call that finds no daemon drops the cache; the next read that reaches it subscribes again.
// A daemon that ends drops it without any call: a cached entry would still answer.
TEST_F(InfoClientCacheTest, LostDaemonDropsTheCacheUntilSubscribedAgain) {
  TInfoClient client(daemon_.Address());
  client.Cache("k.*");
  ASSERT_EQ("1", client.Get("k.a"));
  client.SetTimeoutMs(kShortTimeoutMs);
  WhileStopped([&] { EXPECT_EQ("error 300", Read(client, "other")); });
  WhileStopped([&] { EXPECT_EQ("error 300", Read(client, "k.a")); });
  ASSERT_EQ("1", client.Get("k.a"));
  WhileStopped([&] { EXPECT_EQ("1", Read(client, "k.a")); });
  ASSERT_EQ(0, daemon_.Stop());
  EXPECT_TRUE(WaitUntil([&] { return Read(client, "k.a") == "error 300"; }));
}

// Readers on several threads while another client counts up: none ever sees a value go back,
// and all see the last one.
TEST_F(InfoClientCacheTest, ReadersOnManyThreadsNeverGoBack) {
  constexpr int kChanges = 200;
  TInfoClient client(daemon_.Address());
  TInfoClient writer(daemon_.Address());
  client.Cache("k.a");
  std::atomic<int> wentBack{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      int last = 0;
      WaitUntil([&] {
        const int now = std::atoi(client.Get("k.a").c_str());
        wentBack += now < last ? 1 : 0;
        return (last = now) == kChanges;
      });
    });
  }
  for (int i = 2; i <= kChanges; ++i) writer.Set("k.a", std::to_string(i), TInfoClient::eVolatile);
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(0, wentBack.load());
}

TEST_F(InfoClientCacheTest, CInterfaceCaches) {
  infoclient* client = infoclient_open(daemon_.Address().c_str());
  EXPECT_EQ(INFOCLIENT_INVALID_ARGUMENT, infoclient_cache(client, ""));
  ASSERT_EQ(0, infoclient_cache(client, "k.*"));
  char* values[2] = {nullptr, nullptr};
  ASSERT_EQ(0, infoclient_get(client, "k.a", &values[0], nullptr));
  WhileStopped([&] { EXPECT_EQ(0, infoclient_get(client, "k.a", &values[1], nullptr)); });
  EXPECT_STREQ("1", values[1]);
  for (char* value : values) infoclient_free(value);
  infoclient_close(client);
}

}  // namespace
