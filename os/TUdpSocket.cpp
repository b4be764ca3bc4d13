#include "os/TUdpSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>

#include "base/TException.h"

namespace {

bool ParseAddress(const std::string& text, in_addr& address) {
  if (::inet_pton(AF_INET, text.c_str(), &address) == 1) return true;
  errno = EINVAL;
  return false;
}

[[noreturn]] void Fail(const std::string& context, int errnum) {
  throw TVerboseException(ErrnoMessage(context, errnum), errnum);
}

}  // namespace

TUdpSocket::TUdpSocket(const std::string& address, uint16_t port) {
  const std::string where = address + ":" + std::to_string(port);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (!ParseAddress(address, local.sin_addr)) Fail("Cannot bind UDP socket to " + where, EINVAL);
  socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket_.IsValid()) Fail("Cannot open UDP socket for " + where, errno);
  const int on = 1;
  if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    Fail("Cannot reuse the address of UDP socket " + where, errno);
  }
  if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    Fail("Cannot bind UDP socket to " + where, errno);
  }
  socklen_t length = sizeof local;
  if (::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    Fail("Cannot read the port of UDP socket " + where, errno);
  }
  port_ = ntohs(local.sin_port);
}

bool TUdpSocket::JoinGroup(const std::string& group, const std::string& interface) {
  return ChangeMembership(IP_ADD_MEMBERSHIP, group, interface);
}

bool TUdpSocket::LeaveGroup(const std::string& group, const std::string& interface) {
  return ChangeMembership(IP_DROP_MEMBERSHIP, group, interface);
}

bool TUdpSocket::ChangeMembership(int option, const std::string& group,
                                  const std::string& interface) {
  ip_mreq request{};
  if (!ParseAddress(group, request.imr_multiaddr) ||
      !ParseAddress(interface, request.imr_interface)) {
    return false;
  }
  return ::setsockopt(socket_.Get(), IPPROTO_IP, option, &request, sizeof request) == 0;
}

int TUdpSocket::SetReceiveBuffer(int bytes) {
  if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return -1;
  int granted = 0;
  socklen_t length = sizeof granted;
  if (::getsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0) return -1;
  return granted;
}

ssize_t TUdpSocket::Receive(void* buffer, size_t capacity, bool* truncated, sockaddr_in* sender) {
  sockaddr_in source{};
  socklen_t length = sizeof source;
  // MSG_TRUNC makes the call return the datagram's real length, so a cut one is noticed. It
  // never waits, so an interruption (EINTR) is as rare as it is harmless: the loop calls
  // again while the datagram waits.
  const ssize_t received = ::recvfrom(socket_.Get(), buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&source), &length);
  if (received < 0) return -1;
  if (truncated) *truncated = static_cast<size_t>(received) > capacity;
  if (sender) *sender = source;
  return static_cast<size_t>(received) > capacity ? static_cast<ssize_t>(capacity) : received;
}
