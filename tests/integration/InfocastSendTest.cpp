// Runs the infocast-send program as scripts do: --dump output decoded back into objects, the
// exit codes of usage errors and failures, and real datagrams sent to a loopback socket,
// once and repeated until a stop signal. Everything network-bound stays on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/infocast/InfocastTestDecoder.h"

namespace {

namespace fs = std::filesystem;

const char kTool[] = INFOSERVICE_INFOCAST_SEND_PATH;
constexpr int kTimeoutMs = 10000;

struct TRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class TChild {
 public:
  // Starts the tool with args; its standard output and error go to pipes.
  explicit TChild(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> argv{const_cast<char*>(kTool)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(kTool, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~TChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  pid_t Pid() const { return pid_; }

  // Reads both pipes to their end and reaps the child; bounded by kTimeoutMs per read.
  TRun Finish() {
    TRun run;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
      if (poll(fds, 2, kTimeoutMs) <= 0) {
        ADD_FAILURE() << "infocast-send did not finish";
        return run;
      }
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buffer[65536];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[i]->append(buffer, n);
        } else {
          fds[i].fd = -1;
          --open;
        }
      }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

TRun RunTool(const std::vector<std::string>& args) { return TChild(args).Finish(); }

std::vector<std::string> HexLines(const std::string& text) {
  std::vector<std::string> datagrams;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
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

// Splits a stream of datagrams into objects at every packet number 1.
std::vector<TDecodedInfocastObject> DecodeAll(const std::vector<std::string>& datagrams) {
  std::vector<std::vector<std::string>> groups;
  for (const std::string& datagram : datagrams) {
    TInfocastHeader header;
    EXPECT_TRUE(header.Decode(datagram.data(), datagram.size()));
    if (header.packetNumber == 1 || groups.empty()) groups.emplace_back();
    groups.back().push_back(datagram);
  }
  std::vector<TDecodedInfocastObject> objects;
  for (const auto& group : groups) {
    objects.push_back(DecodeInfocastObject(group));
    EXPECT_EQ(objects.back().error, "");
  }
  return objects;
}

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 13 + 5);
  return data;
}

// A UDP socket bound to 127.0.0.1 on a port the kernel picks.
class TLoopbackReceiver {
 public:
  TLoopbackReceiver() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::abort();
    }
    port_ = ntohs(address.sin_port);
  }
  ~TLoopbackReceiver() { close(fd_); }

  std::string Destination() const { return "127.0.0.1:" + std::to_string(port_); }

  // The next datagram, or an empty string when none arrives within kTimeoutMs.
  std::string Receive() {
    pollfd fd{fd_, POLLIN, 0};
    if (poll(&fd, 1, kTimeoutMs) != 1) return "";
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, n) : "";
  }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace

class InfocastSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/infocast-send-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& relative, const std::string& content) {
    const fs::path path = dir_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path dir_;
};

TEST_F(InfocastSendTest, DumpOfAFileIsOneObjectNamedAfterTheFile) {
  const std::string data = Pattern(3000);
  const TRun run = RunTool({"--dump", Write("cfg.greeting", data)});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> datagrams = HexLines(run.out);
  ASSERT_EQ(datagrams.size(), 3u) << "1400-byte datagrams by default";
  EXPECT_EQ(datagrams[0].size(), 1400u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(object.error, "");
  EXPECT_EQ(object.name, "cfg.greeting");
  EXPECT_EQ(object.type, 0x0001);
  EXPECT_EQ(object.precoding, 0x0004);
  EXPECT_EQ(object.flags, 0);
  EXPECT_EQ(object.data, data);
}

TEST_F(InfocastSendTest, OptionsReachTheDatagrams) {
  const std::string data = Pattern(500);
  const TRun run =
      RunTool({"--type", "0x7", "--precoding", "2", "--name", "var.x", "--time-filter", "100-0x200",
               "--target-filter", "A=2.1", "--max-size", "100", Write("file", data), "--dump"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("only for type 0x0001"), std::string::npos) << run.err;
  const std::vector<std::string> datagrams = HexLines(run.out);
  for (const std::string& datagram : datagrams) EXPECT_LE(datagram.size(), 100u);
  const TDecodedInfocastObject object = DecodeInfocastObject(datagrams);
  EXPECT_EQ(object.error, "");
  EXPECT_EQ(object.type, 0x0007);
  EXPECT_EQ(object.precoding, 0x0002);
  EXPECT_EQ(object.name, "var.x");
  EXPECT_EQ(object.flags, 0x6003);
  EXPECT_EQ(object.timeFilter, "0000006400000200");
  EXPECT_EQ(object.targetFilter, "A=2.1" + std::string(27, '\0'));
  EXPECT_EQ(object.data, data);
}

TEST_F(InfocastSendTest, DirectoryGivesOneObjectPerFileInNameOrder) {
  Write("objects/store.b", "second");
  Write("objects/store.a", "");
  Write("objects/sub/store.c", "skipped: not a file of the directory itself");
  const std::string single = Write("single", "x");
  const TRun run = RunTool({"--dump", (dir_ / "objects").string(), single});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<TDecodedInfocastObject> objects = DecodeAll(HexLines(run.out));
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0].name, "store.a");
  EXPECT_EQ(objects[0].data, "");
  EXPECT_EQ(objects[1].name, "store.b");
  EXPECT_EQ(objects[1].data, "second");
  EXPECT_EQ(objects[2].name, "single");
}

TEST_F(InfocastSendTest, UsageErrorsExitWithTwoAndAMessage) {
  const std::string file = Write("f", "v");
  const std::vector<std::vector<std::string>> cases = {
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
      {"127.0.0.1:9"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    const TRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_NE(run.err.find("usage: infocast-send"), std::string::npos) << shown;
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST_F(InfocastSendTest, UnreadablePathFailsBeforeAnythingIsSent) {
  const TRun run = RunTool({"--dump", Write("good", "v"), (dir_ / "missing").string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("missing"), std::string::npos) << run.err;
}

TEST_F(InfocastSendTest, FileNameTooLongForTheHeaderFails) {
  const std::string file = Write(std::string(30, 'l'), "v");
  const TRun named = RunTool({"--dump", "--name", "cfg.short", file});
  EXPECT_EQ(named.exitCode, 0) << named.err;
  const TRun run = RunTool({"--dump", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(InfocastSendTest, SendsTheDumpedDatagramsToLoopback) {
  const std::string file = Write("cfg.sent", Pattern(2500));
  const TRun dump = RunTool({"--dump", "--precoding", "0x4000", file});
  const std::vector<std::string> expected = HexLines(dump.out);
  ASSERT_EQ(expected.size(), 2u);

  TLoopbackReceiver receiver;
  const TRun run = RunTool({"--precoding", "0x4000", receiver.Destination(), file});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const std::string& datagram : expected) {
    EXPECT_EQ(receiver.Receive(), datagram);
  }
}

TEST_F(InfocastSendTest, RepeatResendsUntilAStopSignal) {
  const std::string file = Write("cfg.repeated", "value");
  for (int stopSignal : {SIGTERM, SIGINT}) {
    TLoopbackReceiver receiver;
    TChild child({"--repeat", "5", receiver.Destination(), file});
    const std::string first = receiver.Receive();
    ASSERT_FALSE(first.empty());
    for (int copy = 0; copy < 3; ++copy) {
      EXPECT_EQ(receiver.Receive(), first) << "copy " << copy;
    }
    kill(child.Pid(), stopSignal);
    const TRun run = child.Finish();
    EXPECT_EQ(run.exitCode, 0) << "signal " << stopSignal << ": " << run.err;
  }
}
