// The client's cache against the real daemon. A read answered from memory is told apart from a
// call by stopping the daemon (SIGSTOP): memory still answers, a call times out.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client/TInfoClient.h"
#include "client/infoclient.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using infoservice::TInfoClient;
using infoservice::TInfoError;
using integration::WaitUntil;

constexpr int kShortTimeoutMs = 300;

std::string Defaults(const std::string& value) {
  return "<Objects><Object><Name>k.a</Name><Value>" + value +
         "</Value></Object>"
         "<Object><Name>k.b</Name><Value>b</Value></Object>"
         "<Object><Name>k.c</Name><Value>c</Value></Object></Objects>\n";
}

// The code a read throws, 0 when it answers; the value goes to `value`.
int ReadCode(TInfoClient& client, const std::string& name, std::string* value = nullptr) {
  try {
    const std::string read = client.Get(name);
    if (value != nullptr) *value = read;
    return 0;
  } catch (const TInfoError& e) {
    return e.GetCode();
  }
}

class InfoClientCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* canExec = getenv("INFOSERVICE_CAN_EXEC");
    if (canExec != nullptr && std::string(canExec) == "0") GTEST_SKIP() << "cannot start programs";
    Start("1");
  }
  void TearDown() override {
    daemon_.Process().Signal(SIGCONT);
    if (daemon_.Process().Poll()) {
      EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
    }
  }
  void Start(const std::string& value) {
    test::WriteFile(root_.File("defaults.xml"), Defaults(value));
    ASSERT_TRUE(daemon_.StartStandalone({"-d", root_.File("defaults.xml")})) << daemon_.Log();
  }
  // Runs check while the daemon cannot answer.
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
// neither names outside the expressions nor values the daemon computes on every read.
TEST_F(InfoClientCacheTest, CoveredNamesAnswerFromMemoryComputedAndOthersDoNot) {
  TInfoClient client(daemon_.Address());
  client.Cache("k.*");
  client.Cache("var.utctime");
  client.Cache("x.exact");
  for (const char* name : {"k.a", "k.none", "var.utctime", "x.exact", "k", "x.exact.more"}) {
    ReadCode(client, name);
  }
  client.SetTimeoutMs(kShortTimeoutMs);
  struct TCase {
    const char* name;
    int code;
    const char* value;
  } const cases[] = {
      {"k.a", 0, "1"},
      {"k.none", 201, ""},
      {"x.exact", 201, ""},
      // Each of these is a call: it times out, and the timeout empties the cache.
      {"var.utctime", TInfoError::kUnreachable, ""},
      {"k.a", TInfoError::kUnreachable, ""},
  };
  const char* const uncovered[] = {"k", "x.exact.more"};
  WhileStopped([&] {
    for (const TCase& c : cases) {
      std::string value;
      EXPECT_EQ(c.code, ReadCode(client, c.name, &value)) << c.name;
      EXPECT_EQ(c.value, value) << c.name;
    }
  });
  ReadCode(client, "k.a");
  for (const char* name : uncovered) {
    WhileStopped([&] { EXPECT_EQ(TInfoError::kUnreachable, ReadCode(client, name)) << name; });
    ReadCode(client, "k.a");
  }
}

// Own writes are visible to the next read at once; other clients' writes once notified.
TEST_F(InfoClientCacheTest, WritesReachCachedReaders) {
  TInfoClient client(daemon_.Address());
  TInfoClient other(daemon_.Address());
  client.Cache("k.*");
  const std::string file = root_.File("value");
  test::WriteFile(file, "from file");
  const auto kVolatile = TInfoClient::eVolatile;
  struct TCase {
    const char* name;
    std::function<void()> write;
    int code;
    const char* value;
  } const cases[] = {
      {"k.a", [&] { client.Set("k.a", "2", kVolatile); }, 0, "2"},
      {"k.a", [&] { client.Unset("k.a", kVolatile); }, 0, "1"},
      {"k.new", [&] { client.Set("k.new", "n", kVolatile); }, 0, "n"},
      {"k.new", [&] { client.Unset("k.new", kVolatile); }, 201, ""},
      {"k.b", [&] { client.SetFromFile("k.b", file, kVolatile); }, 0, "from file"},
      {"k.c",
       [&] {
         client.SetObjects({"k.b", "k.c"}, {"b2", "c2"}, kVolatile);
       },
       0, "c2"},
      {"k.c",
       [&] {
         client.UnsetObjects({"k.b", "k.c"}, kVolatile);
       },
       0, "c"},
  };
  for (const TCase& c : cases) {
    ReadCode(client, c.name);
    c.write();
    std::string value;
    EXPECT_EQ(c.code, ReadCode(client, c.name, &value)) << c.name << " " << &c - cases;
    EXPECT_EQ(c.value, value) << c.name << " " << &c - cases;
  }
  // Another process's change and removal, and the creation of a name read as absent.
  other.Set("k.a", "3", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return client.Get("k.a") == "3"; }));
  ASSERT_EQ(201, ReadCode(client, "k.later"));
  other.Set("k.later", "here", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return ReadCode(client, "k.later") == 0; }));
  other.Unset("k.later", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return ReadCode(client, "k.later") == 201; }));
}

TEST_F(InfoClientCacheTest, LeastRecentlyReadEntryGoesFirst) {
  TInfoClient client(daemon_.Address());
  client.Cache("k.*");
  client.SetCacheLimits(2, 1024);
  for (const char* name : {"k.a", "k.b", "k.c", "k.b"}) ReadCode(client, name);
  client.SetTimeoutMs(kShortTimeoutMs);
  WhileStopped([&] {
    EXPECT_EQ(0, ReadCode(client, "k.b"));
    EXPECT_EQ(0, ReadCode(client, "k.c"));
    EXPECT_EQ(TInfoError::kUnreachable, ReadCode(client, "k.a"));
  });
  // Bytes: "k.a" + "1" is 4 bytes, so a bound of 7 keeps one entry.
  client.SetCacheLimits(10, 7);
  for (const char* name : {"k.a", "k.b"}) ReadCode(client, name);
  WhileStopped([&] {
    EXPECT_EQ(0, ReadCode(client, "k.b"));
    EXPECT_EQ(TInfoError::kUnreachable, ReadCode(client, "k.a"));
  });
}

// A call that finds no daemon drops the cache; the next read that reaches it subscribes again.
// A daemon that ends drops it without any call: a cached entry would still answer.
TEST_F(InfoClientCacheTest, LostDaemonDropsTheCacheUntilSubscribedAgain) {
  TInfoClient client(daemon_.Address());
  client.Cache("k.*");
  ASSERT_EQ("1", client.Get("k.a"));
  client.SetTimeoutMs(kShortTimeoutMs);
  WhileStopped([&] { EXPECT_EQ(TInfoError::kUnreachable, ReadCode(client, "other")); });
  WhileStopped([&] { EXPECT_EQ(TInfoError::kUnreachable, ReadCode(client, "k.a")); });
  ASSERT_EQ("1", client.Get("k.a"));
  WhileStopped([&] { EXPECT_EQ(0, ReadCode(client, "k.a")); });
  ASSERT_EQ(0, daemon_.Stop());
  EXPECT_TRUE(WaitUntil([&] { return ReadCode(client, "k.a") == TInfoError::kUnreachable; }));
}

// Readers on several threads while another client counts up: no reader ever sees a value go
// back, and all see the last one.
TEST_F(InfoClientCacheTest, ReadersOnManyThreadsNeverGoBack) {
  constexpr int kThreads = 4;
  constexpr int kChanges = 200;
  TInfoClient client(daemon_.Address());
  TInfoClient writer(daemon_.Address());
  client.Cache("k.a");
  writer.Set("k.a", "0", TInfoClient::eVolatile);
  std::atomic<int> wentBack{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&] {
      int last = 0;
      WaitUntil([&] {
        const int now = std::stoi(client.Get("k.a"));
        if (now < last) ++wentBack;
        last = now;
        return now == kChanges;
      });
    });
  }
  for (int i = 1; i <= kChanges; ++i) writer.Set("k.a", std::to_string(i), TInfoClient::eVolatile);
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(0, wentBack.load());
  EXPECT_EQ(std::to_string(kChanges), client.Get("k.a"));
}

TEST_F(InfoClientCacheTest, CInterfaceCaches) {
  infoclient* client = infoclient_open(daemon_.Address().c_str());
  EXPECT_EQ(INFOCLIENT_INVALID_ARGUMENT, infoclient_cache(client, ""));
  ASSERT_EQ(0, infoclient_cache(client, "k.*"));
  ASSERT_EQ(0, infoclient_set_cache_limits(client, 10, 100));
  char* value = nullptr;
  ASSERT_EQ(0, infoclient_get(client, "k.a", &value, nullptr));
  infoclient_free(value);
  ASSERT_EQ(0, infoclient_set_timeout(client, kShortTimeoutMs));
  WhileStopped([&] { EXPECT_EQ(0, infoclient_get(client, "k.a", &value, nullptr)); });
  EXPECT_STREQ("1", value);
  infoclient_free(value);
  infoclient_close(client);
}

}  // namespace
