// The real daemon under overload: neither connections beyond its descriptor limit nor a stream
// of bad datagrams may make it spin or log at the rate of the input; clients are served.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ipc/TIpcAddress.h"
#include "os/TUdpSocket.h"
#include "os/TUniqueFd.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

// User and system time of a process in clock ticks (fields 14 and 15 of /proc/PID/stat; the
// name in field 2 may hold spaces, so the fields are counted after it).
long CpuTicks(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  long user = 0, system = 0;
  std::sscanf(stat.c_str() + stat.rfind(')') + 2,
              "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %ld %ld", &user, &system);
  return user + system;
}

size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

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

using OverloadTest = TDaemonTest;

// 100 connections held against a limit of 40 descriptors: the daemon neither spins nor traces
// each failed accept, refuses the connections it cannot take, and serves once they are gone.
TEST_F(OverloadTest, ConnectionsBeyondTheDescriptorLimitNeitherSpinNorFlood) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' vptr check opens a pipe, which fails at the descriptor limit";
#endif
  constexpr int kLimit = 40, kHeld = 100;
  ASSERT_TRUE(daemon_.StartStandalone(
      {}, {"/bin/sh", "-c", "ulimit -n " + std::to_string(kLimit) + " && exec \"$0\" \"$@\""}))
      << daemon_.Log();
  TIpcAddress parsed;
  ASSERT_TRUE(TIpcAddress::Parse(daemon_.Address(), parsed));
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.probe", "up"}).status);

  std::vector<TUniqueFd> held;
  for (int i = 0; i < kHeld; ++i) held.push_back(Connect(parsed.socketPath));
  ASSERT_EQ(kHeld, std::count_if(held.begin(), held.end(), [](auto& fd) { return fd.IsValid(); }));
  const size_t lines = Lines(daemon_.Log());
  const long ticks = CpuTicks(daemon_.Process().Pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // A spinning loop uses every tick, an idle daemon next to none.
  ASSERT_LT(CpuTicks(daemon_.Process().Pid()) - ticks, sysconf(_SC_CLK_TCK) * 2 * 3 / 10);
  EXPECT_LT(Lines(daemon_.Log()) - lines, 20u);
  // Those beyond the limit are refused (accepted and closed at once) rather than left waiting.
  EXPECT_TRUE(WaitUntil([&] {
    return std::count_if(held.begin(), held.end(), Refused) >= kHeld - kLimit;
  }));
  held.clear();
  EXPECT_TRUE(WaitUntil([&] { return daemon_.Get("var.probe") == "up"; }));
}

// A stream of malformed datagrams on the meta channel leaves a bounded number of log lines
// (the first few, then about one a second) and a client served in the middle of it.
TEST_F(OverloadTest, BadDatagramStreamLeavesABoundedLogWhileClientsAreServed) {
  const int port = TUdpSocket("127.0.0.1", 0).GetPort();
  ASSERT_TRUE(daemon_.StartStandalone({"-m", "127.0.0.1:" + std::to_string(port)}));
  TUdpSocket sender("127.0.0.1", 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const char garbage[16] = {};  // shorter than any header
  auto send = [&] {
    return sendto(sender.Get(), garbage, 16, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 16;
  };
  // The channel is open once a datagram leaves a trace.
  const size_t before = Lines(daemon_.Log());
  ASSERT_TRUE(WaitUntil([&] { return send() && Lines(daemon_.Log()) > before; })) << daemon_.Log();
  const size_t lines = Lines(daemon_.Log());
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "var.probe", "up"}).status);
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 5000; ++i) send();
    EXPECT_EQ("up", daemon_.Get("var.probe")) << "round " << round;
  }
  EXPECT_LT(Lines(daemon_.Log()) - lines, 60u);  // 20,000 without a limit
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration
