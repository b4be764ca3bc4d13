// Runs the infocast-send program as scripts do: --dump output decoded back into objects, the
// exit codes of usage errors and failures, and real datagrams sent to a loopback socket,
// once and repeated until a stop signal. Everything network-bound stays on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>

#include "os/TUdpSocket.h"
#include "tests/infocast/InfocastTestDecoder.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

// The datagrams of a --dump, one hex line each.
std::vector<std::string> HexLines(const std::string& text) {
  std::vector<std::string> datagrams;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    std::string bytes;
    for (size_t i = 0; i + 1 < line.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    datagrams.push_back(bytes);
  }
  return datagrams;
}

std::string Header(const TDecodedInfocastObject& object) {
  return object.name + " " + std::to_string(object.type) + " " +
         std::to_string(object.precoding) + " " + std::to_string(object.flags) + object.error;
}

// The next datagram on a loopback socket, or an empty string when none arrives within 10 s.
std::string Receive(TUdpSocket& socket) {
  pollfd fd{socket.Get(), POLLIN, 0};
  char buffer[65536];
  const ssize_t n = poll(&fd, 1, 10000) == 1 ? socket.Receive(buffer, sizeof buffer) : -1;
  return n > 0 ? std::string(buffer, n) : "";
}

class InfocastSendTest : public ::testing::Test {
 protected:
  TResult Run(const TArgs& args) {
    return RunProgram(root_, Concat({BinaryPath("infocast-send")}, args));
  }
  std::string Write(const std::string& name, const std::string& content) {
    WriteFile(root_.File(name), content);
    return root_.File(name);
  }

  TTempRoot root_;
  TUdpSocket receiver_{"127.0.0.1", 0};
  std::string destination_ = "127.0.0.1:" + std::to_string(receiver_.GetPort());
};

// What --dump prints is exactly what goes to the network; every option reaches the header; a
// directory gives one object per file of its own, in name order.
TEST_F(InfocastSendTest, DumpDecodesToTheObjectsAndIsWhatIsSent) {
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + 5);
  const std::string file = Write("cfg.greeting", data);
  const TResult dump = Run({"--dump", file});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<std::string> datagrams = HexLines(dump.out);
  ASSERT_EQ(datagrams.size(), 3u) << "1400-byte datagrams by default";
  EXPECT_EQ(datagrams[0].size(), 1400u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(Header(object), "cfg.greeting 1 4 0");
  EXPECT_EQ(object.data, data);
  const TResult run = Run({destination_, file});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string& datagram : datagrams) EXPECT_EQ(Receive(receiver_), datagram);

  const TResult options =
      Run({"--type", "0x7", "--precoding", "2", "--name", "var.x", "--time-filter", "100-0x200",
           "--target-filter", "A=2.1", "--max-size", "100", file, "--dump"});
  ASSERT_EQ(options.status, 0) << options.err;
  EXPECT_NE(options.err.find("only for type 0x0001"), std::string::npos) << options.err;
  const std::vector<std::string> small = HexLines(options.out);
  for (const std::string& datagram : small) EXPECT_LE(datagram.size(), 100u);
  const TDecodedInfocastObject optioned = DecodeInfocastObject(small);
  EXPECT_EQ(Header(optioned), "var.x 7 2 24579");  // flags 0x6003: time and target filter
  EXPECT_EQ(optioned.timeFilter, "0000006400000200");
  EXPECT_EQ(optioned.targetFilter, "A=2.1" + std::string(27, '\0'));
  EXPECT_EQ(optioned.data, data);

  for (const char* dir : {"objects", "objects/sub"}) mkdir(root_.File(dir).c_str(), 0755);
  Write("objects/store.b", "second");
  Write("objects/store.a", "");
  Write("objects/sub/store.c", "skipped: not a file of the directory itself");
  const TResult directory = Run({"--dump", root_.File("objects"), Write("single", "x")});
  ASSERT_EQ(directory.status, 0) << directory.err;
  std::string names;  // one datagram per object here
  for (const std::string& datagram : HexLines(directory.out)) {
    const TDecodedInfocastObject each = DecodeInfocastObject({datagram});
    names += each.name + "=" + each.data + each.error + " ";
  }
  EXPECT_EQ(names, "store.a= store.b=second single=x ");
}

// Usage errors exit with 2 and the usage text; input that cannot be sent (a path that cannot
// be read, a file name too long for the header) with 1. Nothing is sent or dumped then.
TEST_F(InfocastSendTest, HelpExitsWith0UsageErrorsWith2AndBadInputWith1) {
  EXPECT_EQ(Run({"--help"}).status, 0);
  const std::string f = Write("f", "v");
  const std::string longName = Write(std::string(30, 'l'), "v");
  EXPECT_EQ(Run({"--dump", "--name", "cfg.short", longName}).status, 0);
  const std::vector<TArgs> cases = {
      {"--dump", f, root_.File("missing")}, {"--dump", longName}, {}, {"--dump"},
      {"--bogus", "--dump", f}, {"--dump", f, "--type"}, {"--type", "65536", "--dump", f},
      {"--type", "0x1g", "--dump", f}, {"--type", "-1", "--dump", f},
      {"--precoding", "", "--dump", f}, {"--max-size", "48", "--dump", f},
      {"--max-size", "65508", "--dump", f}, {"--max-size", "60", "--time-filter", "0-1", "--dump", f},
      {"--name", std::string(30, 'n'), "--dump", f}, {"--time-filter", "5-4", "--dump", f},
      {"--time-filter", "0-0x100000000", "--dump", f}, {"--time-filter", "12", "--dump", f},
      {"--target-filter", "Z=" + std::string(30, 'z'), "--dump", f},
      {"--target-filter", "Z", "--dump", f}, {"--repeat", "0", "--dump", f},
      {"--ttl", "256", "127.0.0.1:9", f}, {"--interface", "eth0", "127.0.0.1:9", f},
      {"10.0.0.1:5000", f}, {"127.0.0.1:0", f}, {"127.0.0.1", f}, {"localhost:9", f},
      {"127.0.0.1:9"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    const TResult run = Run(cases[i]);
    EXPECT_EQ(run.status, i < 2 ? 1 : 2) << i;
    EXPECT_EQ(run.err.find("usage: infocast-send") != std::string::npos, i >= 2) << i;
    EXPECT_EQ(run.out, "") << i;
  }
}

TEST_F(InfocastSendTest, RepeatResendsUntilAStopSignal) {
  const std::string file = Write("cfg.repeated", "value");
  for (int stopSignal : {SIGTERM, SIGINT}) {
    TUdpSocket receiver("127.0.0.1", 0);
    TProcess child(root_, {BinaryPath("infocast-send"), "--repeat", "5",
                           "127.0.0.1:" + std::to_string(receiver.GetPort()), file});
    const std::string first = Receive(receiver);
    ASSERT_FALSE(first.empty());
    for (int copy = 0; copy < 3; ++copy) EXPECT_EQ(Receive(receiver), first) << copy;
    child.Signal(stopSignal);
    EXPECT_EQ(child.Wait(), 0) << "signal " << stopSignal << ": " << child.Err();
  }
}

}  // namespace
}  // namespace integration
