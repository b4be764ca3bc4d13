// The client's cache against the real daemon. A read answered from memory is told apart from a
// call by stopping the daemon (SIGSTOP): memory still answers, a call times out.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "client/TInfoClient.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using infoservice::TInfoClient;
using integration::WaitUntil;

// The value read, or "error CODE".
std::string Read(TInfoClient& client, const std::string& name) {
  try {
    return client.Get(name);
  } catch (const infoservice::TInfoError& e) {
    return "error " + std::to_string(e.GetCode());
  }
}

class InfoClientCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* canExec = getenv("INFOSERVICE_CAN_EXEC");
    if (canExec != nullptr && std::string(canExec) == "0") GTEST_SKIP() << "cannot start programs";
    test::WriteFile(root_.File("defaults.xml"),
                    "<Objects><Object><Name>k.a</Name><Value>1</Value></Object></Objects>\n");
    ASSERT_TRUE(daemon_.StartStandalone({"-d", root_.File("defaults.xml")})) << daemon_.Log();
    client_ = std::make_unique<TInfoClient>(daemon_.Address());
    client_->SetTimeoutMs(300);
  }
  void TearDown() override {
    if (IsSkipped()) return;
    daemon_.Process().Signal(SIGCONT);
    EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
  }
  void WhileStopped(const std::function<void()>& check) {
    daemon_.Process().Signal(SIGSTOP);
    check();
    daemon_.Process().Signal(SIGCONT);
  }

  integration::TTempRoot root_;
  integration::TDaemon daemon_{root_};
  std::unique_ptr<TInfoClient> client_;
};

// Covered names, present or absent, answer from memory once read; values the daemon computes
// on every read are calls, and a call that times out drops the cache until read again. A
// daemon that ends drops it without any call.
TEST_F(InfoClientCacheTest, CoveredNamesAnswerFromMemoryComputedOnesDoNot) {
  for (const char* expression : {"k.*", "var.utctime", "x.exact"}) client_->Cache(expression);
  for (const char* name : {"k.a", "k.none", "var.utctime", "x.exact"}) Read(*client_, name);
  const std::pair<const char*, std::string> cases[] = {
      {"k.a", "1"},
      {"k.none", "error 201"},
      {"x.exact", "error 201"},
      {"var.utctime", "error 300"},
      {"k.a", "error 300"},
  };
  WhileStopped([&] {
    for (const auto& [name, expected] : cases) EXPECT_EQ(expected, Read(*client_, name)) << name;
  });
  ASSERT_EQ("1", Read(*client_, "k.a"));
  WhileStopped([&] { EXPECT_EQ("1", Read(*client_, "k.a")); });
  ASSERT_EQ(0, daemon_.Stop());
  EXPECT_TRUE(WaitUntil([&] { return Read(*client_, "k.a") == "error 300"; }));
}

// Own writes are visible to the next read at once; other clients' writes once notified.
TEST_F(InfoClientCacheTest, WritesReachCachedReaders) {
  TInfoClient other(daemon_.Address());
  client_->Cache("k.*");
  const std::string file = root_.File("value");
  test::WriteFile(file, "from file");
  const auto kVolatile = TInfoClient::eVolatile;
  const std::vector<std::string> both = {"k.b", "k.c"};
  const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
      {"k.a", [&] { client_->Set("k.a", "2", kVolatile); }, "2"},
      {"k.a", [&] { client_->Unset("k.a", kVolatile); }, "1"},
      {"k.b", [&] { client_->SetFromFile("k.b", file, kVolatile); }, "from file"},
      {"k.c",
       [&] {
         client_->SetObjects(both, {"b2", "c2"}, kVolatile);
       },
       "c2"},
      {"k.c", [&] { client_->UnsetObjects(both, kVolatile); }, "error 201"},
      {"k.later", [&] { other.Set("k.later", "here", kVolatile); }, "here"},
      {"k.later", [&] { other.Unset("k.later", kVolatile); }, "error 201"},
  };
  for (const auto& [text, write, value] : cases) {
    const std::string name = text, expected = value;  // lambdas cannot capture bindings
    Read(*client_, name);
    write();
    if (name != "k.later") {
      EXPECT_EQ(expected, Read(*client_, name)) << name;
    } else {  // written by the other client
      EXPECT_TRUE(WaitUntil([&] { return Read(*client_, name) == expected; })) << name;
    }
  }
}

}  // namespace
