// The client library against the real daemon: the C interface's codes and texts on every
// failure path, values with any byte, subscriptions with callbacks (also callbacks that call
// the client and end their own subscription). infoctl's tests use the C++ interface.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "client/infoclient.h"
#include "tests/integration/DaemonFixture.h"

namespace {

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
  // A success clears the text of the last failure; values keep every byte.
  const std::string bytes("nul\0quote\"\xff\n", 13);
  ASSERT_EQ(0, infoclient_set(client, "x.bytes", bytes.data(), bytes.size(), INFOCLIENT_VOLATILE));
  EXPECT_STREQ("", infoclient_error_text());
  size_t length = 0;
  ASSERT_EQ(0, infoclient_get(client, "x.bytes", &value, &length));
  EXPECT_EQ(bytes, std::string(value, length));
  EXPECT_EQ('\0', value[length]);
  infoclient_free(value);
  ASSERT_EQ(0, infoclient_set(client, "x.empty", nullptr, 0, INFOCLIENT_VOLATILE));
  ASSERT_EQ(0, infoclient_get(client, "x.empty", &value, &length));
  EXPECT_EQ(0u, length);
  infoclient_free(value);
  infoclient_close(unnamed);
  infoclient_close(absent);
  infoclient_close(client);
}

// A callback that reads through the client and ends its own subscription must neither wait
// for itself nor be called again; a later subscription still hears of changes (both share one
// socket, so once it heard of one the first would have too).
TEST_F(InfoClientTest, CallbackMayCallTheClientAndEndItsOwnSubscription) {
  struct TContext {
    infoclient* client;
    int id;
    TRecorder recorder;
  } context{infoclient_open(address_.c_str()), 0, {}};
  const char* subscribed[] = {"c.*"};
  const auto callback = [](void* raw, int, const char* name) {
    auto* c = static_cast<TContext*>(raw);
    char* value = nullptr;
    EXPECT_EQ(0, infoclient_get(c->client, name, &value, nullptr));
    c->recorder.Add(std::string(name) + "=" + (value ? value : ""));
    infoclient_free(value);
    EXPECT_EQ(0, infoclient_unsubscribe(c->client, c->id));
  };
  ASSERT_EQ(
      0, infoclient_subscribe(context.client, subscribed, 1, 0, callback, &context, &context.id));
  ASSERT_EQ(0, infoclient_set(context.client, "c.a", "first", 5, INFOCLIENT_VOLATILE));
  ASSERT_TRUE(context.recorder.WaitFor(1));
  TRecorder marker;
  int markerId = 0;
  ASSERT_EQ(0, infoclient_subscribe(context.client, subscribed, 1, 0, RecordC, &marker, &markerId));
  ASSERT_EQ(0, infoclient_unset(context.client, "c.a", INFOCLIENT_VOLATILE));
  ASSERT_TRUE(marker.WaitFor(1));
  EXPECT_EQ((std::vector<std::string>{"c.a=first"}), context.recorder.Lines());
  EXPECT_EQ((std::vector<std::string>{"removed c.a"}), marker.Lines());
  infoclient_close(context.client);  // takes the live subscription back at the daemon
}

}  // namespace
