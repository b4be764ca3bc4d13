// The client's cache against the real daemon: a read answered from memory is told apart from a
// call by stopping the daemon (SIGSTOP). Memory still answers, a call times out.
#include <gtest/gtest.h>

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

class InfoClientCacheTest : public integration::TDaemonTest {
 protected:
  void SetUp() override {
    TDaemonTest::SetUp();
    if (IsSkipped()) return;
    const std::string defaults = root_.Write(
        "defaults.xml", "<Objects><Object><Name>k.a</Name><Value>1</Value></Object></Objects>\n");
    ASSERT_TRUE(daemon_.StartStandalone({"-d", defaults})) << daemon_.Log();
    client_ = std::make_unique<TInfoClient>(daemon_.Address());
    client_->SetTimeoutMs(300);
  }
  void TearDown() override {
    if (IsSkipped()) return;
    daemon_.Process().Signal(SIGCONT);
    EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
  }
  void WhileStopped(const std::function<void()>& check) {
    daemon_.Process().Signal(SIGSTOP), check(), daemon_.Process().Signal(SIGCONT);
  }

  std::unique_ptr<TInfoClient> client_;
};

// Covered names, present or absent, answer from memory once read; computed values are calls;
// a call that times out, or the daemon's end, drops the cache until read again.
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
  const auto kVolatile = TInfoClient::eVolatile;
  const std::vector<std::string> both = {"k.a", "k.c"};
  for (const char* name : {"k.a", "k.c", "k.later"}) Read(*client_, name);
  client_->Set("k.a", "2", kVolatile);
  EXPECT_EQ("2", Read(*client_, "k.a"));
  client_->Unset("k.a", kVolatile);
  EXPECT_EQ("1", Read(*client_, "k.a"));  // the default again
  client_->SetObjects(both, {"a3", "c3"}, kVolatile);
  EXPECT_EQ("a3 c3", Read(*client_, "k.a") + " " + Read(*client_, "k.c"));
  client_->UnsetObjects(both, kVolatile);
  EXPECT_EQ("1 error 201", Read(*client_, "k.a") + " " + Read(*client_, "k.c"));
  other.Set("k.later", "here", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return Read(*client_, "k.later") == "here"; }));
  other.Unset("k.later", kVolatile);
  EXPECT_TRUE(WaitUntil([&] { return Read(*client_, "k.later") == "error 201"; }));
}

}  // namespace
