// Runs the infocast-send program as scripts do: --dump output decoded back into objects, the
// exit codes of usage errors and failures, and real datagrams sent to a loopback socket,
// once and repeated until a stop signal. Everything network-bound stays on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

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
    EXPECT_EQ(line.size() % 2, 0u);
    EXPECT_EQ(line.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    std::string bytes;
    for (size_t i = 0; i + 1 < line.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    datagrams.push_back(bytes);
  }
  return datagrams;
}

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 13 + 5);
  return data;
}

// A UDP socket bound to 127.0.0.1 on a port the kernel picks.
class TLoopbackReceiver final {
 public:
  std::string Destination() const { return "127.0.0.1:" + std::to_string(socket_.GetPort()); }
  // The next datagram, or an empty string when none arrives within 10 s.
  std::string Receive() {
    pollfd fd{socket_.Get(), POLLIN, 0};
    char buffer[65536];
    const ssize_t n = poll(&fd, 1, 10000) == 1 ? socket_.Receive(buffer, sizeof buffer) : -1;
    return n > 0 ? std::string(buffer, n) : "";
  }

 private:
  TUdpSocket socket_{"127.0.0.1", 0};
};

class InfocastSendTest : public ::testing::Test {
 protected:
  TResult Run(const std::vector<std::string>& args) { return RunProgram(root_, Command(args)); }
  std::vector<std::string> Command(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {BinaryPath("infocast-send")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  // Writes a file below the test's folder; `relative` may hold one subfolder.
  std::string Write(const std::string& relative, const std::string& content) {
    const std::string path = root_.File(relative);
    if (relative.find('/') != std::string::npos) {
      mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
    }
    WriteFile(path, content);
    return path;
  }

  TTempRoot root_;
};

// What --dump prints is exactly what goes to the network.
TEST_F(InfocastSendTest, DumpOfAFileIsOneObjectNamedAfterTheFileAndIsWhatIsSent) {
  const std::string data = Pattern(3000);
  const std::string file = Write("cfg.greeting", data);
  const TResult dump = Run({"--dump", file});
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<std::string> datagrams = HexLines(dump.out);
  ASSERT_EQ(datagrams.size(), 3u) << "1400-byte datagrams by default";
  EXPECT_EQ(datagrams[0].size(), 1400u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(object.error, "");
  EXPECT_EQ(object.name + " " + std::to_string(object.type) + " " +
                std::to_string(object.precoding) + " " + std::to_string(object.flags),
            "cfg.greeting 1 4 0");
  EXPECT_EQ(object.data, data);

  TLoopbackReceiver receiver;
  const TResult run = Run({receiver.Destination(), file});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string& datagram : datagrams) EXPECT_EQ(receiver.Receive(), datagram);
}

// Every option reaches the header; a directory gives one object per file, in name order.
TEST_F(InfocastSendTest, OptionsAndDirectoriesReachTheDatagrams) {
  const std::string data = Pattern(500);
  const TResult run =
      Run({"--type", "0x7", "--precoding", "2", "--name", "var.x", "--time-filter", "100-0x200",
           "--target-filter", "A=2.1", "--max-size", "100", Write("file", data), "--dump"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("only for type 0x0001"), std::string::npos) << run.err;
  const std::vector<std::string> datagrams = HexLines(run.out);
  for (const std::string& datagram : datagrams) EXPECT_LE(datagram.size(), 100u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(object.error, "");
  EXPECT_EQ(object.name + " " + std::to_string(object.type) + " " +
                std::to_string(object.precoding) + " " + std::to_string(object.flags),
            "var.x 7 2 24579");  // flags 0x6003: time and target filter
  EXPECT_EQ(object.timeFilter, "0000006400000200");
  EXPECT_EQ(object.targetFilter, "A=2.1" + std::string(27, '\0'));
  EXPECT_EQ(object.data, data);

  Write("objects/store.b", "second");
  Write("objects/store.a", "");
  mkdir(root_.File("objects/sub").c_str(), 0755);
  WriteFile(root_.File("objects/sub/store.c"), "skipped: not a file of the directory itself");
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
  for (const char* help : {"-h", "--help"}) {
    const TResult run = Run({help});
    EXPECT_EQ(run.status, 0) << help;
    EXPECT_EQ(run.out.find("usage: infocast-send"), 0u) << help;
  }
  const std::string file = Write("f", "v");
  const std::string longName = Write(std::string(30, 'l'), "v");
  EXPECT_EQ(Run({"--dump", "--name", "cfg.short", longName}).status, 0);
  const std::vector<std::vector<std::string>> cases = {
      {"--dump", file, root_.File("missing")},
      {"--dump", longName},
      {},
      {"--dump"},
      {"--bogus", "--dump", file},
      {"--dump", file, "--type"},
      {"--type", "65536", "--dump", file},
      {"--type", "0x1g", "--dump", file},
      {"--type", "-1", "--dump", file},
      {"--precoding", "", "--dump", file},
      {"--max-size", "48", "--dump", file},
      {"--max-size", "65508", "--dump", file},
      {"--max-size", "60", "--time-filter", "0-1", "--dump", file},
      {"--name", std::string(30, 'n'), "--dump", file},
      {"--time-filter", "5-4", "--dump", file},
      {"--time-filter", "0-0x100000000", "--dump", file},
      {"--time-filter", "12", "--dump", file},
      {"--target-filter", "Z=" + std::string(30, 'z'), "--dump", file},
      {"--target-filter", "Z", "--dump", file},
      {"--repeat", "0", "--dump", file},
      {"--ttl", "256", "127.0.0.1:9", file},
      {"--interface", "eth0", "127.0.0.1:9", file},
      {"10.0.0.1:5000", file},
      {"127.0.0.1:0", file},
      {"127.0.0.1", file},
      {"localhost:9", file},
      {"127.0.0.1:9"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    const TResult run = Run(cases[i]);
    const bool badInput = i < 2;
    EXPECT_EQ(run.status, badInput ? 1 : 2) << i;
    EXPECT_EQ(run.err.find("usage: infocast-send") != std::string::npos, !badInput) << i;
    EXPECT_EQ(run.out, "") << i;
  }
}

TEST_F(InfocastSendTest, RepeatResendsUntilAStopSignal) {
  const std::string file = Write("cfg.repeated", "value");
  for (int stopSignal : {SIGTERM, SIGINT}) {
    TLoopbackReceiver receiver;
    TProcess child(root_, Command({"--repeat", "5", receiver.Destination(), file}));
    const std::string first = receiver.Receive();
    ASSERT_FALSE(first.empty());
    for (int copy = 0; copy < 3; ++copy) EXPECT_EQ(receiver.Receive(), first) << copy;
    child.Signal(stopSignal);
    EXPECT_EQ(child.Wait(), 0) << "signal " << stopSignal << ": " << child.Err();
  }
}

}  // namespace
}  // namespace integration
