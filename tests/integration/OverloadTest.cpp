// The real daemon under overload: its descriptor limit used up by connections a local process
// holds, and a stream of bad datagrams on its meta channel. Neither may make it spin or write
// its log at the rate of the input, and a well-behaved client is served again (or throughout).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ipc/TIpcAddress.h"
#include "os/TUdpSocket.h"
#include "os/TUniqueFd.h"
#include "tests/integration/DaemonFixture.h"

namespace {

using namespace integration;

// User and system time of a process in clock ticks (fields 14 and 15 of /proc/PID/stat).
long CpuTicks(const std::string& pid) {
  const std::string stat = ReadFile("/proc/" + pid + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // field 3 onwards
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// A spinning loop uses every tick; an idle daemon next to none.
long GenerousTickBound(int seconds) { return sysconf(_SC_CLK_TCK) * seconds * 3 / 10; }

TUniqueFd Connect(const std::string& socketPath) {
  TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fd.Reset();
  return fd;
}

// True once the daemon closed the connection: the client reads the end or a reset.
bool Refused(const TUniqueFd& fd) {
  pollfd ready{fd.Get(), POLLIN, 0};
  char byte;
  return poll(&ready, 1, 0) == 1 && recv(fd.Get(), &byte, 1, MSG_DONTWAIT) <= 0;
}

class OverloadTest : public ::testing::Test {
 protected:
  TResult Infoctl(const std::string& address, const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {BinaryPath("infoctl"), "-A", address};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProgram(root_, argv, {{"INFOSERVICE_ROOT", root_.Path()}});
  }

  TTempRoot root_;
};

// 100 connections held against a limit of 40 descriptors: the daemon neither spins nor traces
// each failed accept, refuses the connections it cannot take, and serves once they are gone.
TEST_F(OverloadTest, ConnectionsBeyondTheDescriptorLimitNeitherSpinNorFlood) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' vptr check opens a pipe, which fails at the descriptor limit "
                  "and is reported as an invalid object";
#endif
  constexpr int kDescriptorLimit = 40;
  constexpr int kHeld = 100;
  const std::string addressFile = root_.File("address");
  const std::string pidFile = root_.File("pid");
  TProcess daemon(root_,
                  {"/bin/sh", "-c",
                   "ulimit -n " + std::to_string(kDescriptorLimit) + " && echo $$ > " + pidFile +
                       " && exec \"$0\" \"$@\"",
                   BinaryPath("infoservice"), "-s", "-t", "-i", addressFile},
                  {{"INFOSERVICE_ROOT", root_.Path()}});
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(addressFile).empty(); })) << daemon.Err();
  const std::string address = ReadFile(addressFile);
  std::string pid = ReadFile(pidFile);
  pid.erase(pid.find_last_not_of("\n") + 1);
  TIpcAddress parsed;
  ASSERT_TRUE(TIpcAddress::Parse(address, parsed));
  ASSERT_EQ(0, Infoctl(address, {"set", "-v", "var.probe", "up"}).status);

  std::vector<TUniqueFd> held;
  for (int i = 0; i < kHeld; ++i) held.push_back(Connect(parsed.socketPath));
  ASSERT_EQ(kHeld, std::count_if(held.begin(), held.end(), [](auto& fd) { return fd.IsValid(); }));

  const size_t lines = Lines(daemon.Err());
  const long ticks = CpuTicks(pid);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // Stops here on a spinning daemon, before its log grows without end.
  ASSERT_LT(CpuTicks(pid) - ticks, GenerousTickBound(2));
  EXPECT_LT(Lines(daemon.Err()) - lines, 20u);
  // Those beyond the limit are refused (accepted and closed at once) rather than left waiting.
  EXPECT_TRUE(WaitUntil([&] {
    return std::count_if(held.begin(), held.end(), Refused) >= kHeld - kDescriptorLimit;
  }));

  held.clear();
  EXPECT_TRUE(WaitUntil([&] { return Infoctl(address, {"get", "var.probe"}).out == "up\n"; }));
}

// A stream of malformed datagrams on the meta channel leaves a bounded number of log lines
// (the first few, then about one a second) and a client served in the middle of it.
TEST_F(OverloadTest, BadDatagramStreamLeavesABoundedLogWhileClientsAreServed) {
  constexpr int kRounds = 4;
  constexpr int kDatagramsPerRound = 5000;
  const int port = TUdpSocket("127.0.0.1", 0).GetPort();
  TDaemon daemon(root_);
  ASSERT_TRUE(daemon.StartStandalone({"-m", "127.0.0.1:" + std::to_string(port)}));
  TUdpSocket sender("127.0.0.1", 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const char garbage[16] = {};  // shorter than any header
  auto send = [&] {
    return sendto(sender.Get(), garbage, sizeof garbage, 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(sizeof garbage);
  };
  // The channel is open once a datagram leaves a trace.
  const size_t before = Lines(daemon.Log());
  ASSERT_TRUE(WaitUntil([&] { return send() && Lines(daemon.Log()) > before; })) << daemon.Log();

  const size_t lines = Lines(daemon.Log());
  ASSERT_EQ(0, daemon.Infoctl({"set", "-v", "var.probe", "up"}).status);
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < kDatagramsPerRound; ++i) send();
    EXPECT_EQ("up\n", daemon.Infoctl({"get", "var.probe"}).out) << "round " << round;
  }
  EXPECT_LT(Lines(daemon.Log()) - lines, 60u);  // 20,000 without a limit
  EXPECT_EQ(0, daemon.Stop());
}

}  // namespace
