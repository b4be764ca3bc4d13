// The client library against the real daemon: the C interface's codes and texts on every
// failure path, values with any byte, subscriptions with callbacks (also callbacks that call
// the client and end their own subscription), and a watch with enumeration.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "client/TInfoClient.h"
#include "client/infoclient.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using infoservice::TInfoClient;
using infoservice::TInfoError;
using integration::WaitUntil;

const char kDefaults[] =
    "<Objects>\n"
    "  <Object><Name>w.a</Name><Value>1</Value></Object>\n"
    "  <Object><Name>w.b</Name><Value>2</Value></Object>\n"
    "</Objects>\n";

// What callbacks received, "changed NAME" / "removed NAME", filled on the library's thread.
class TRecorder {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool WaitFor(size_t count) {
    return WaitUntil([&] { return Lines().size() >= count; });
  }
  TInfoClient::TCallback Callback() {
    return [this](TInfoClient::TEvent event, const std::string& name) {
      Add((event == TInfoClient::eChanged ? "changed " : "removed ") + name);
    };
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

void RecordC(void* context, int event, const char* name) {
  static_cast<TRecorder*>(context)->Add((event == INFOCLIENT_CHANGED ? "changed " : "removed ") +
                                        std::string(name));
}

class InfoClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A cross build runs the daemon only where qemu is registered (scripts/cross-test.sh).
    const char* canExec = getenv("INFOSERVICE_CAN_EXEC");
    if (canExec != nullptr && std::string(canExec) == "0") GTEST_SKIP() << "cannot start programs";
    test::WriteFile(root_.File("defaults.xml"), kDefaults);
    ASSERT_TRUE(daemon_.StartStandalone({"-d", root_.File("defaults.xml")})) << daemon_.Log();
    address_ = daemon_.Address();
  }
  void TearDown() override {
    if (daemon_.Process().Poll()) {
      EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
    }
  }

  integration::TTempRoot root_;
  integration::TDaemon daemon_{root_};
  std::string address_;
};

TEST_F(InfoClientTest, CInterfaceCarriesCodeAndTextOfEveryFailure) {
  infoclient* client = infoclient_open(address_.c_str());
  ASSERT_NE(nullptr, client);
  const std::string dead = "ipc:" + root_.Path() + "/tmp/nobody.sock#1";
  infoclient* absent = infoclient_open(dead.c_str());
  unsetenv("INFOSERVICE_ADDRESS");
  unsetenv("NAMESERVICE_ADDRESS");
  infoclient* unnamed = infoclient_open(nullptr);
  char* value = nullptr;
  int id = 0;
  const char* empty[] = {""};
  const std::string missingFile = root_.File("missing/out");
  struct TCase {
    const char* what;
    int code;
    std::string text;
    std::function<int()> call;
  } const cases[] = {
      {"unknown object", 201, "Unknown object",
       [&] { return infoclient_get(client, "no.such.object", &value, nullptr); }},
      {"malformed expression", 201, "Invalid expression",
       [&] { return infoclient_subscribe(client, empty, 1, 0, RecordC, nullptr, &id); }},
      {"file the daemon cannot open", 207, "Failed to open file",
       [&] { return infoclient_get_to_file(client, "w.a", missingFile.c_str()); }},
      {"daemon not running", INFOCLIENT_UNREACHABLE, "cannot reach the information service",
       [&] { return infoclient_get(absent, "w.a", &value, nullptr); }},
      {"daemon not running, subscribe", INFOCLIENT_UNREACHABLE, "cannot reach",
       [&] { return infoclient_subscribe(absent, empty, 1, 0, RecordC, nullptr, &id); }},
      {"no address anywhere", INFOCLIENT_UNREACHABLE, "no daemon address",
       [&] { return infoclient_unset(unnamed, "w.a", INFOCLIENT_VOLATILE); }},
      {"null name", INFOCLIENT_INVALID_ARGUMENT, "NULL",
       [&] { return infoclient_get(client, nullptr, &value, nullptr); }},
      {"null callback", INFOCLIENT_INVALID_ARGUMENT, "NULL",
       [&] { return infoclient_subscribe(client, empty, 1, 0, nullptr, nullptr, &id); }},
      {"unknown storage", INFOCLIENT_INVALID_ARGUMENT, "unknown storage 7",
       [&] { return infoclient_set(client, "x.y", "v", 1, 7); }},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(c.code, c.call()) << c.what;
    EXPECT_NE(std::string::npos, std::string(infoclient_error_text()).find(c.text))
        << c.what << ": " << infoclient_error_text();
  }
  EXPECT_EQ(nullptr, value);
  // A success clears the text of the last failure.
  EXPECT_EQ(0, infoclient_get(client, "w.a", &value, nullptr));
  EXPECT_STREQ("", infoclient_error_text());
  infoclient_free(value);
  infoclient_close(unnamed);
  infoclient_close(absent);
  infoclient_close(client);
}

TEST_F(InfoClientTest, CInterfaceKeepsEveryByteOfAValue) {
  infoclient* client = infoclient_open(address_.c_str());
  const std::string bytes("nul\0quote\"\xff\n", 13);
  ASSERT_EQ(0, infoclient_set(client, "x.bytes", bytes.data(), bytes.size(), INFOCLIENT_VOLATILE));
  char* value = nullptr;
  size_t length = 0;
  ASSERT_EQ(0, infoclient_get(client, "x.bytes", &value, &length));
  EXPECT_EQ(bytes, std::string(value, length));
  EXPECT_EQ('\0', value[length]);
  infoclient_free(value);
  ASSERT_EQ(0, infoclient_set(client, "x.empty", nullptr, 0, INFOCLIENT_VOLATILE));
  ASSERT_EQ(0, infoclient_get(client, "x.empty", &value, &length));
  EXPECT_EQ(0u, length);
  infoclient_free(value);
  infoclient_close(client);
}

// After Unsubscribe, a later change reaches only the second subscription; both observers share
// one socket, so once the second one heard of it the first would have too.
TEST_F(InfoClientTest, CSubscriptionCallsBackUntilUnsubscribed) {
  infoclient* client = infoclient_open(address_.c_str());
  TRecorder first;
  TRecorder second;
  const char* subscribed[] = {"s.*"};
  int firstId = 0;
  int secondId = 0;
  ASSERT_EQ(0, infoclient_subscribe(client, subscribed, 1, 0, RecordC, &first, &firstId));
  ASSERT_EQ(0, infoclient_set(client, "s.a", "1", 1, INFOCLIENT_VOLATILE));
  ASSERT_EQ(0, infoclient_unset(client, "s.a", INFOCLIENT_VOLATILE));
  ASSERT_TRUE(first.WaitFor(2));
  ASSERT_EQ(0, infoclient_unsubscribe(client, firstId));
  ASSERT_EQ(0, infoclient_subscribe(client, subscribed, 1, 0, RecordC, &second, &secondId));
  ASSERT_EQ(0, infoclient_set(client, "s.b", "2", 1, INFOCLIENT_VOLATILE));
  ASSERT_TRUE(second.WaitFor(1));
  EXPECT_EQ((std::vector<std::string>{"changed s.a", "removed s.a"}), first.Lines());
  EXPECT_EQ((std::vector<std::string>{"changed s.b"}), second.Lines());
  // Closing with a live subscription takes it back at the daemon.
  infoclient_close(client);
}

TEST_F(InfoClientTest, WatchEnumeratesThenReportsChangesAndDumpReadsValues) {
  TInfoClient client(address_);
  TRecorder recorder;
  const int id = client.Watch({"w.*"}, recorder.Callback());
  ASSERT_TRUE(recorder.WaitFor(2));
  client.Set("w.c", "3", TInfoClient::eVolatile);
  ASSERT_TRUE(recorder.WaitFor(3));
  EXPECT_EQ((std::vector<std::string>{"changed w.a", "changed w.b", "changed w.c"}),
            recorder.Lines());
  client.Unsubscribe(id);
  EXPECT_EQ((std::map<std::string, std::string>{{"w.a", "1"}, {"w.b", "2"}, {"w.c", "3"}}),
            client.Dump("w.*"));
  EXPECT_EQ((std::vector<std::string>{}), client.List("nothing.*"));
  try {
    client.GetObjects({"w.a", "no.such"});
    FAIL() << "no error";
  } catch (const TInfoError& e) {
    EXPECT_EQ(201, e.GetCode());
    EXPECT_EQ("Unknown object", e.GetText());
  }
}

// A callback that reads through the client and ends its own subscription must neither wait
// for itself nor be called again.
TEST_F(InfoClientTest, CallbackMayCallTheClientAndEndItsOwnSubscription) {
  TInfoClient client(address_);
  TRecorder recorder;
  TRecorder marker;
  int id = 0;
  id = client.Subscribe({"c.*"}, [&](TInfoClient::TEvent, const std::string& name) {
    recorder.Add(name + "=" + client.Get(name));
    client.Unsubscribe(id);
  });
  client.Set("c.a", "first", TInfoClient::eVolatile);
  ASSERT_TRUE(recorder.WaitFor(1));
  client.Subscribe({"c.*"}, marker.Callback());
  client.Set("c.a", "second", TInfoClient::eVolatile);
  ASSERT_TRUE(marker.WaitFor(1));
  EXPECT_EQ((std::vector<std::string>{"c.a=first"}), recorder.Lines());
}

TEST_F(InfoClientTest, ClientOutlivesTheDaemonQuietly) {
  auto client = std::make_unique<TInfoClient>(address_);
  TRecorder recorder;
  client->Subscribe({"w.*"}, recorder.Callback());
  ASSERT_EQ(0, daemon_.Stop());
  try {
    client->Get("w.a");
    FAIL() << "no error";
  } catch (const TInfoError& e) {
    EXPECT_EQ(TInfoError::kUnreachable, e.GetCode());
  }
  client.reset();
}

}  // namespace
