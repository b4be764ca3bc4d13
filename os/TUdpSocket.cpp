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
  TSetupFailure failure;
  if (Setup(address, port, failure)) return;
  const std::string where = address + ":" + std::to_string(port);
  switch (failure.step) {
    case TSetupStep::kAddress:
    case TSetupStep::kBind:
      Fail("Cannot bind UDP socket to " + where, failure.error);
    case TSetupStep::kOpen:
      Fail("Cannot open UDP socket for " + where, failure.error);
    case TSetupStep::kReuseAddress:
      Fail("Cannot reuse the address of UDP socket " + where, failure.error);
    case TSetupStep::kReadName:
      break;
  }
  Fail("Cannot read the port of UDP socket " + where, failure.error);
}

std::unique_ptr<TUdpSocket> TUdpSocket::TryOpen(const std::string& address, uint16_t port,
                                                TSetupFailure& failure) {
  std::unique_ptr<TUdpSocket> socket(new TUdpSocket());
  if (!socket->Setup(address, port, failure)) socket.reset();
  return socket;
}

bool TUdpSocket::Setup(const std::string& address, uint16_t port, TSetupFailure& failure) {
  auto fail = [&failure](TSetupStep step, int error) {
    failure.step = step;
    failure.error = error;
    return false;
  };
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (!ParseAddress(address, local.sin_addr)) return fail(TSetupStep::kAddress, EINVAL);
  socket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket_.IsValid()) return fail(TSetupStep::kOpen, errno);
  const int on = 1;
  if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return fail(TSetupStep::kReuseAddress, errno);
  }
  if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return fail(TSetupStep::kBind, errno);
  }
  socklen_t length = sizeof local;
  if (::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return fail(TSetupStep::kReadName, errno);
  }
  port_ = ntohs(local.sin_port);
  return true;
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
  // net.core.rmem_max caps SO_RCVBUF; a privileged process (the daemon runs as root on the
  // box) may go past the cap, which a receiver of bursts needs. Unprivileged, this fails
  // quietly and the capped size stands.
  if (granted < bytes) {
    (void)::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
  }
  granted = 0;
  length = sizeof granted;
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
