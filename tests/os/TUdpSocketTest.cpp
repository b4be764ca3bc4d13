#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/TException.h"
#include "os/TUdpSocket.h"

namespace {

// Sends from one socket to the other on 127.0.0.1; nothing leaves the machine.
void SendTo(const TUdpSocket& from, const TUdpSocket& to, const std::string& datagram) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(to.GetPort());
  destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::sendto(from.Get(), datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&destination), sizeof destination),
            static_cast<ssize_t>(datagram.size()));
}

TEST(TUdpSocketTest, ReceivesWithoutWaitingReportsACutDatagramAndRefusesBadAddresses) {
  TUdpSocket receiver("127.0.0.1", 0);
  TUdpSocket sender("127.0.0.1", 0);
  ASSERT_NE(receiver.GetPort(), 0);
  char buffer[8];
  bool truncated = true;
  EXPECT_EQ(receiver.Receive(buffer, sizeof buffer, &truncated), -1);
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  // Datagrams over loopback are queued by the time sendto returns.
  SendTo(sender, receiver, "hello");
  SendTo(sender, receiver, "");
  SendTo(sender, receiver, "longer than eight");
  sockaddr_in from{};
  ASSERT_EQ(receiver.Receive(buffer, sizeof buffer, &truncated, &from), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_FALSE(truncated);
  EXPECT_EQ(ntohs(from.sin_port), sender.GetPort());
  EXPECT_EQ(receiver.Receive(buffer, sizeof buffer, &truncated), 0);
  ASSERT_EQ(receiver.Receive(buffer, sizeof buffer, &truncated), 8);
  EXPECT_EQ(std::string(buffer, 8), "longer t");
  EXPECT_TRUE(truncated);
  EXPECT_EQ(receiver.Receive(buffer, sizeof buffer), -1);
  EXPECT_GT(receiver.SetReceiveBuffer(64 * 1024), 0);
  // Failures come back as exceptions or results, never as an end of the process.
  EXPECT_THROW(TUdpSocket("not an address", 0), TVerboseException);
  EXPECT_THROW(TUdpSocket("192.0.2.1", 0), TVerboseException);   // not an address of ours
  EXPECT_NO_THROW(TUdpSocket("127.0.0.1", receiver.GetPort()));  // SO_REUSEADDR
  EXPECT_FALSE(receiver.JoinGroup("239.1.2.3", "not an address"));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(receiver.JoinGroup("127.0.0.2", "127.0.0.1"));   // not a group
  EXPECT_FALSE(receiver.LeaveGroup("239.1.2.3", "127.0.0.1"));  // never joined
}

// Joining a group makes the kernel announce it (IGMP) on the interface, so the join is tried
// only in a network namespace of the test's own, in a child process.
TEST(TUdpSocketTest, JoinsAndLeavesAGroupInAPrivateNamespace) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNET) != 0) ::_exit(77);
    // Bring the namespace's loopback interface up.
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (control < 0 || ::ioctl(control, SIOCGIFFLAGS, &request) != 0) ::_exit(2);
    request.ifr_flags |= IFF_UP;
    if (::ioctl(control, SIOCSIFFLAGS, &request) != 0) ::_exit(3);
    try {
      TUdpSocket socket("0.0.0.0", 0);
      if (!socket.JoinGroup("239.1.2.3", "127.0.0.1")) ::_exit(4);
      if (socket.JoinGroup("239.1.2.3", "127.0.0.1") || errno != EADDRINUSE) ::_exit(5);
      if (!socket.LeaveGroup("239.1.2.3", "127.0.0.1")) ::_exit(6);
      if (socket.LeaveGroup("239.1.2.3", "127.0.0.1")) ::_exit(7);
    } catch (const TException&) {
      ::_exit(8);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no permission to make a network namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
