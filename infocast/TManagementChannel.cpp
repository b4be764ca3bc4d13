#include "infocast/TManagementChannel.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>

#include "base/TException.h"
#include "infocast/InfocastSocket.h"

namespace {

const char kPrefix[] = "TManagementChannel: ";

bool IsDottedIpv4(const std::string& address) {
  in_addr parsed{};
  return inet_pton(AF_INET, address.c_str(), &parsed) == 1;
}

}  // namespace

TManagementChannel::TManagementChannel(const std::string& address, int port, unsigned int timeout,
                                       unsigned int maxPacketSize, IInformationObjectReader& reader,
                                       IIOEventLoop& loop, const IClock& clock, TTracker& tracker)
    : tracker_(tracker),
      address_(address),
      port_(port),
      timeout_(timeout),
      loop_(loop),
      filters_(kPrefix, reader, clock, tracker, TInfocastFilters::TVersionRead::kAlways),
      engine_(TInfocastDatagramEngine::kManagementRules, *this, filters_, tracker),
      buffer_(std::clamp(maxPacketSize, kMinPacketSize, kMaxPacketSize)) {}

TManagementChannel::~TManagementChannel() {
  Disconnect();
  StopTimeoutTimer();
}

void TManagementChannel::SetCallback(IInfocastChannelCallback* callback) {
  engine_.SetCallback(callback);
}

void TManagementChannel::Connect() {
  Disconnect();
  tracker_.Trace("Connect(%s:%d)", address_.c_str(), port_);
  // A host name or a typing error in cfg.ip.rmtsource would otherwise only show up as an
  // errno of the bind; say what was refused.
  if (!IsDottedIpv4(address_)) {
    tracker_.Error("%sAddress '%s' is not a dotted IPv4 address; channel stays closed", kPrefix,
                   address_.c_str());
    return;
  }
  // Failures are traced in the channel's words; the source is set by clients, so an address
  // this box cannot bind leaves the channel closed and the daemon serving.
  socket_ = OpenInfocastSocket(kPrefix, address_, port_, tracker_);
  if (!socket_) return;
  // A unicast address of the box works too: the join fails with one trace and nothing
  // retries it.
  JoinInfocastGroup(*socket_, address_, tracker_);
  try {
    loop_.RegisterFileDescriptor(socket_->Get(), IIOEventLoop::kReadable, 0, this);
  } catch (const TException& e) {
    tracker_.Error("%s%s", kPrefix, e.GetText());
    socket_.reset();
  }
}

void TManagementChannel::Disconnect() {
  if (!socket_) return;
  tracker_.Trace("Disconnect(%s:%d)", address_.c_str(), port_);
  loop_.UnregisterFileDescriptor(socket_->Get());
  LeaveInfocastGroup(*socket_, address_, tracker_);
  socket_.reset();
}

void TManagementChannel::GetInformationObject(const std::string& name, std::string& value) const {
  filters_.GetInformationObject(name, value);
}

void TManagementChannel::HandleEvent(int, unsigned int) {
  if (!socket_) return;
  bool truncated = false;
  const ssize_t received = socket_->Receive(buffer_.data(), buffer_.size(), &truncated);
  if (received < 0) {
    // Woken for nothing (the datagram went elsewhere): not a failure.
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    tracker_.Error("%sReceive failed; errno = %d", kPrefix, errno);
    return;
  }
  // A cut datagram is reported by its length being above the buffer's.
  const size_t length = truncated ? buffer_.size() + 1 : static_cast<size_t>(received);
  engine_.Process(buffer_.data(), length, buffer_.size());
}

void TManagementChannel::HandleTimeout(int identifier) {
  if (identifier == -1 || identifier != timer_) return;
  Disconnect();
  StopTimeoutTimer();
}

void TManagementChannel::StopTimeoutTimer() {
  if (timer_ == -1) return;
  loop_.RemoveTimeout(timer_);
  timer_ = -1;
}

bool TManagementChannel::RouteManagementPacket(const TInfocastHeader& header, TInfocastRoute& route,
                                               TTracker& tracker) {
  if (header.type != kTypeManagementObject && header.type != kTypeManagementObjectExtended) {
    tracker.Error("%sObject is of wrong type (%d)", kPrefix, static_cast<int>(header.type));
    return false;
  }
  route.name = header.GetName();
  route.evaluateDynamicHeader = true;
  return true;
}

bool TManagementChannel::RoutePacket(const TInfocastHeader& header, size_t, TInfocastRoute& route) {
  return RouteManagementPacket(header, route, tracker_);
}

// No registry of delivered signatures: the receiver's OnCompareObject decides.
bool TManagementChannel::IsUnchangedObject(const std::string&, uint16_t, uint32_t) { return false; }

void TManagementChannel::OnObjectAccepted(const std::string&, bool, uint16_t, uint32_t) {}
