#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
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

}  // namespace
