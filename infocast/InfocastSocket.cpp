#include "infocast/InfocastSocket.h"

#include <cerrno>
#include <cstdint>

namespace {

constexpr int kMaxPort = 65535;
constexpr const char* kDefaultInterface = "0.0.0.0";

}  // namespace

std::unique_ptr<TUdpSocket> OpenInfocastSocket(const char* prefix, const std::string& address,
                                               int port, TTracker& tracker) {
  if (port < 0 || port > kMaxPort) {
    tracker.Error("%sCould not bind socket; errno = %d", prefix, EINVAL);
    return nullptr;
  }
  TUdpSocket::TSetupFailure failure;
  std::unique_ptr<TUdpSocket> socket =
      TUdpSocket::TryOpen(address, static_cast<uint16_t>(port), failure);
  if (!socket) {
    switch (failure.step) {
      case TUdpSocket::TSetupStep::kOpen:
        tracker.Error("%sCould not open UDP socket; errno = %d", prefix, failure.error);
        break;
      case TUdpSocket::TSetupStep::kReuseAddress:
        tracker.Error("%sCan't set SO_REUSEADDR; errno = %d", prefix, failure.error);
        break;
      case TUdpSocket::TSetupStep::kAddress:
      case TUdpSocket::TSetupStep::kBind:
      case TUdpSocket::TSetupStep::kReadName:
        tracker.Error("%sCould not bind socket; errno = %d", prefix, failure.error);
        break;
    }
    return nullptr;
  }
  const int granted = socket->SetReceiveBuffer(kInfocastReceiveBufferBytes);
  if (granted < kInfocastReceiveBufferBytes) {
    tracker.Warning("%sReceive buffer of %d bytes instead of %d", prefix, granted,
                    kInfocastReceiveBufferBytes);
  }
  return socket;
}

bool JoinInfocastGroup(TUdpSocket& socket, const std::string& group, TTracker& tracker) {
  if (socket.JoinGroup(group, kDefaultInterface)) return true;
  tracker.Error("TnfocastChannel: Could not join multicast group '%s'; errno = %d", group.c_str(),
                errno);
  return false;
}

bool LeaveInfocastGroup(TUdpSocket& socket, const std::string& group, TTracker& tracker) {
  if (socket.LeaveGroup(group, kDefaultInterface)) return true;
  tracker.Error("TnfocastChannel: Could not leave multicast group '%s'; errno = %d", group.c_str(),
                errno);
  return false;
}
