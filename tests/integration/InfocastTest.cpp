// The Infocast tools on 127.0.0.1: infocast-send, infocast-carousel feeding the daemon, the
// management source; then the daemon's multicast Infocast adapter inside a network namespace
// the test creates and deletes (a veth end carries the multicast route, TTL 0).
#include <gtest/gtest.h>
#include <poll.h>

#include <cstdlib>

#include "os/TUdpSocket.h"
#include "tests/infocast/InfocastTestDecoder.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

std::vector<std::string> HexLines(const std::string& text) {
  std::vector<std::string> datagrams;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    datagrams.emplace_back();
    for (size_t i = 0; i + 1 < line.size(); i += 2)
      datagrams.back() += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
  }
  return datagrams;
}

std::string Header(const TDecodedInfocastObject& object) {
  return object.name + " " + std::to_string(object.type) + " " +
         std::to_string(object.precoding) + " " + std::to_string(object.flags) + object.error;
}

// The next datagram, or an empty string when none arrives within 10 s.
std::string Receive(TUdpSocket& socket) {
  pollfd fd{socket.Get(), POLLIN, 0};
  char buffer[65536];
  const ssize_t n = poll(&fd, 1, 10000) == 1 ? socket.Receive(buffer, sizeof buffer) : -1;
  return n > 0 ? std::string(buffer, n) : "";
}

class InfocastSendTest : public TDaemonTest {
 protected:
  TResult Run(const TArgs& args) {
    return RunProgram(root_, Concat({BinaryPath("infocast-send")}, args));
  }

  TUdpSocket receiver_{"127.0.0.1", 0};
};

// --dump prints what is sent; every option reaches the header.
TEST_F(InfocastSendTest, DumpDecodesToTheObjectsIsWhatIsSentAndRepeatsUntilStopped) {
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + 5);
  const std::string file = root_.Write("cfg.greeting", data);
  const std::vector<std::string> datagrams = HexLines(Run({"--dump", file}).out);
  ASSERT_EQ(datagrams.size(), 3u) << "1400-byte datagrams by default";
  EXPECT_EQ(datagrams[0].size(), 1400u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(Header(object), "cfg.greeting 1 4 0");
  EXPECT_EQ(object.data, data);
  // --repeat sends it again and again until a stop signal, which ends it with 0.
  TProcess sender(root_, {BinaryPath("infocast-send"), "--repeat", "5",
                          "127.0.0.1:" + std::to_string(receiver_.GetPort()), file});
  for (int copy = 0; copy < 3; ++copy)
    for (const std::string& datagram : datagrams) EXPECT_EQ(Receive(receiver_), datagram) << copy;
  sender.Signal(SIGINT);
  EXPECT_EQ(sender.Wait(), 0) << sender.Err();

  const std::vector<std::string> small =
      HexLines(Run({"--type", "0x7", "--precoding", "2", "--name", "var.x", "--time-filter",
                    "100-0x200", "--target-filter", "A=2.1", "--max-size", "100", file, "--dump"})
                   .out);
  for (const std::string& datagram : small) EXPECT_LE(datagram.size(), 100u);
  const TDecodedInfocastObject optioned = DecodeInfocastObject(small);
  EXPECT_EQ(Header(optioned), "var.x 7 2 24579");  // flags 0x6003: time and target filter
  EXPECT_EQ(optioned.timeFilter, "0000006400000200");
  EXPECT_EQ(optioned.targetFilter, "A=2.1" + std::string(27, '\0'));
  EXPECT_EQ(optioned.data, data);
}

// Usage errors exit with 2 and the usage text, input that cannot be sent with 1; nothing is
// sent then. F is a file, L one whose name is too long, M a missing one, N a name too long,
// T a target filter too long, E an empty word.
TEST_F(InfocastSendTest, HelpExitsWith0UsageErrorsWith2AndBadInputWith1) {
  EXPECT_EQ(Run({"--help"}).status, 0);
  const std::map<std::string, std::string> words = {
      {"F", root_.Write("f", "v")},       {"L", root_.Write(std::string(30, 'l'), "v")},
      {"M", root_.File("m")},             {"N", std::string(30, 'n')},
      {"T", "Z=" + std::string(30, 'z')}, {"E", ""}};
  EXPECT_EQ(Run({"--dump", "--name", "cfg.short", words.at("L")}).status, 0);
  const char* const cases[] = {
      "--dump F M", "--dump L", "", "--dump", "--bogus --dump F", "--dump F --type",
      "--type 65536 --dump F", "--type 0x1g --dump F", "--type -1 --dump F",
      "--precoding E --dump F", "--max-size 48 --dump F", "--max-size 65508 --dump F",
      "--max-size 60 --time-filter 0-1 --dump F", "--name N --dump F", "--time-filter 5-4 --dump F",
      "--time-filter 0-0x100000000 --dump F", "--time-filter 12 --dump F",
      "--target-filter T --dump F", "--target-filter Z --dump F", "--repeat 0 --dump F",
      "--ttl 256 127.0.0.1:9 F", "--interface eth0 127.0.0.1:9 F", "0.0.0.0:5000 F",
      "127.0.0.1:0 F", "127.0.0.1 F", "localhost:9 F", "127.0.0.1:9"};
  for (size_t i = 0; i < std::size(cases); ++i) {
    TArgs args;
    std::istringstream in(cases[i]);
    for (std::string word; in >> word;) args.push_back(words.count(word) ? words.at(word) : word);
    const TResult run = Run(args);
    EXPECT_EQ(run.status, i < 2 ? 1 : 2) << cases[i];
    EXPECT_EQ(run.err.find("usage: infocast-send") != std::string::npos, i >= 2) << cases[i];
    EXPECT_EQ(run.out, "") << cases[i];
  }
}

using CarouselDaemonTest = InfocastSendTest;
using ManagementDaemonTest = InfocastSendTest;

TEST_F(CarouselDaemonTest, DaemonGetsEveryObjectThenAChangedOneAndBadDescriptionsAreRefused) {
  const std::string meta = "127.0.0.1:" + std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  const std::string port = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  auto describe = [&](const std::string& file) {
    const std::string object = "<Object fetch='Prefetch' name=";
    root_.Write("d.new", "<Infocast>\n<Channel address='127.0.0.1' port='" + port +
                             "' connection='Persistent' rate='512k'>\n" + object + "'cfg.a' " +
                             "file='" + file + "'/>\n" + object +
                             "'var.long' file='long'/></Channel></Infocast>\n");
    return rename(root_.File("d.new").c_str(), root_.File("d.xml").c_str()) == 0;
  };
  auto holds = [&](const std::string& name, const std::string& value) {
    return WaitUntil([&] { return daemon_.Get(name) == value; });
  };
  const TArgs carousel = {BinaryPath("infocast-carousel"), "--meta", meta, root_.File("d.xml")};
  root_.Write("a", "hello");
  root_.Write("long", std::string(4000, 'l'));  // three datagrams
  ASSERT_TRUE(describe("missing"));
  const TResult refused = RunProgram(root_, carousel);  // refused before anything is sent
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(refused.err.find("d.xml:3: cannot open"), std::string::npos) << refused.err;

  ASSERT_TRUE(describe("a"));
  ASSERT_TRUE(daemon_.StartStandalone({"-m", meta}));
  TProcess sender(root_, carousel);
  EXPECT_TRUE(holds("cfg.a", "hello")) << sender.Err();
  EXPECT_TRUE(holds("var.long", std::string(4000, 'l')));
  root_.Write("a.new", "bonjour");
  ASSERT_EQ(rename(root_.File("a.new").c_str(), root_.File("a").c_str()), 0);
  EXPECT_TRUE(holds("cfg.a", "bonjour"));
  ASSERT_TRUE(describe("missing"));  // the old description keeps playing
  sender.Signal(SIGHUP);
  EXPECT_TRUE(sender.WaitForOutput("d.xml:3: "));
  EXPECT_TRUE(sender.Poll());
  sender.Signal(SIGTERM);
  EXPECT_EQ(sender.Wait(), 0);
}

// Objects arrive from the source and are watched; a new source drops them, and the watcher
// sees them go. The source names its successor; an unbindable address leaves the daemon serving.
TEST_F(ManagementDaemonTest, ObjectsFollowTheSourceWhichMayMoveItself) {
  ASSERT_TRUE(daemon_.StartStandalone()) << daemon_.Log();
  std::string sources[3];
  for (std::string& s : sources) s = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  auto source = [&](int index) { return "127.0.0.1:" + sources[index]; };
  auto push = [&](int index, const std::string& name, const std::string& value) {
    return Run({"--type", "1", source(index), root_.Write(name, value)}).status == 0;
  };
  // Pushes until the daemon serves the value: the channel may still be opening.
  auto pushUntilServed = [&](int index, const std::string& name, const std::string& value) {
    return WaitUntil([&] {
      return push(index, name, value) &&
             WaitUntil([&] { return daemon_.Get(name) == value; }, std::chrono::milliseconds(200));
    });
  };
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.ip.rmtsource", source(0)}).status);
  ASSERT_TRUE(pushUntilServed(0, "m.one", "hello")) << daemon_.Log();
  const auto watch = daemon_.Watch({"m.*"});
  ASSERT_TRUE(watch->WaitForLines(1)) << watch->Err();
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.ip.rmtsource", source(1)}).status);
  ASSERT_TRUE(watch->WaitForLines(2));
  EXPECT_EQ("<none>", daemon_.Get("m.one"));
  ASSERT_TRUE(pushUntilServed(1, "m.two", "again"));
  ASSERT_TRUE(watch->WaitForLines(3));
  watch->Signal(SIGINT);
  EXPECT_EQ(0, watch->Wait());
  EXPECT_EQ((TArgs{"changed m.one", "removed m.one", "changed m.two"}), watch->Lines());

  // Without the client's value, the source's own one is seen.
  ASSERT_EQ(0, daemon_.Infoctl({"unset", "cfg.ip.rmtsource"}).status);
  ASSERT_TRUE(push(1, "cfg.ip.rmtsource", source(0)));
  ASSERT_TRUE(pushUntilServed(0, "m.moved", "yes")) << daemon_.Log();

  const std::string unbindable = "192.0.2.1:" + sources[2];
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.ip.rmtsource", unbindable}).status);
  EXPECT_TRUE(daemon_.Process().WaitForOutput("TManagementChannel: Could not bind socket"));
  EXPECT_EQ(unbindable, daemon_.Get("cfg.ip.rmtsource"));
  EXPECT_EQ(0, daemon_.Stop()) << daemon_.Log();
}

constexpr const char* kMeta = "239.7.8.1:47100";
constexpr const char* kMoved = "239.7.8.3:47102";
constexpr const char* kData = "239.7.8.2:47101";

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class InfocastAdapterDaemonTest : public TDaemonTest {
 protected:
  void SetUp() override {
    TDaemonTest::SetUp();
    if (IsSkipped()) return;
    if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    const std::string peer = "via" + std::to_string(getpid()), in = " && ip -n " + ns_;
    created_ = Shell("ip netns add " + ns_);
    if (!created_ || !Shell("ip link add " + peer + " type veth peer name eth0 netns " + ns_ +
                            in + " link set lo up" + in + " link set eth0 up" + in +
                            " addr add 169.254.78.2/24 dev eth0 && ip link set " + peer + " up" +
                            in + " route add 224.0.0.0/4 dev eth0")) {
      GTEST_SKIP() << "ip netns add (or the veth pair in it) is not possible here";
    }
  }
  void TearDown() override { if (created_) Shell("ip netns del " + ns_); }
  // One object from a file, sent from inside the namespace.
  void Send(const std::string& destination, const std::string& name, const std::string& value) {
    Shell("ip netns exec " + ns_ + " " + BinaryPath("infocast-send") + " --ttl 0 --name " + name +
          " " + destination + " " + root_.Write("send-value", value));
  }
  // Sends until `check` (by default the object sent) reads the value; the daemon may still be
  // joining.
  bool SendUntil(const std::string& destination, const std::string& name, const std::string& value,
                 const std::string& check = "") {
    return WaitUntil([&] {
      Send(destination, name, value);
      return daemon_.Get(check.empty() ? name : check) == value;
    });
  }

  std::string ns_ = "isad" + std::to_string(getpid());
  bool created_ = false;
};

TEST_F(InfocastAdapterDaemonTest, HeadEndConfiguresChannelsAndObjectsOfTheDaemon) {
  const std::string addressFile = root_.File("metachannel");
  ASSERT_TRUE(daemon_.StartStandalone({"-m", kMeta, "-e", addressFile},
                                      {"/usr/bin/env", "ip", "netns", "exec", ns_}))
      << daemon_.Log();
  const std::string root =
      "<Infocast><Channel address='239.7.8.2' port='47101' connection='Persistent'><Object "
      "name='cfg.e2e.pre' fetch='Prefetch'/><Object name='var.e2e.req' fetch='OnRequest' "
      "countref='true'/></Channel></Infocast>";
  ASSERT_TRUE(SendUntil(kMeta, "infocast2.conf", root, "_metachannel.infocast2.conf"))
      << daemon_.Log();
  ASSERT_TRUE(SendUntil(kData, "cfg.e2e.pre", std::string(3000, 'e'))) << daemon_.Log();
  // On request: taken while a watch subscribes to exactly that name.
  {
    const auto request = daemon_.Watch({"var.e2e.req"});
    EXPECT_TRUE(SendUntil(kData, "var.e2e.req", "news"));
    EXPECT_TRUE(request->WaitForOutput("changed var.e2e.req"));
  }
  // A new address in the -e file moves the daemon to another meta channel.
  WriteFile(addressFile, kMoved);
  EXPECT_TRUE(WaitUntil([&] { return daemon_.Get("var.ip.metachannel") == kMoved; }));
  EXPECT_TRUE(SendUntil(kMoved, "infocast2.conf", root, "_metachannel.infocast2.conf"));
  EXPECT_TRUE(SendUntil(kData, "cfg.e2e.pre", "three"));
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration
