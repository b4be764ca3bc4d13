#include "infocast/TInfocastChannel.h"

#include <algorithm>
#include <cerrno>

#include "base/TException.h"
#include "infocast/InfocastSocket.h"

namespace {

const char kPrefix[] = "TInfocastChannel: ";
constexpr unsigned int kMillisecondsPerSecond = 1000;

// The fixed names under which the owner registers the meta channel's own objects.
const char kInfocastInfoName[] = "_metachannel.infocastinfo";
const char kInfocastConfName[] = "_metachannel.infocast2.conf";
const char kBootcastInfoName[] = "_metachannel.bootcastinfo";
const char kUtcTimeName[] = "_metachannel.utctime";
const char kNormalModeConfigurationFile[] = "infocast2.conf";

const char kDefaultManufacturer[] = "velmora";
const char kBrandManufacturer[] = "Velmora";
const char kDefaultProductName[] = "nm-box-rev-2";

}  // namespace

TInfocastChannel::TInfocastChannel(const std::string& address, int port, TConnectionType type,
                                   unsigned int interval, unsigned int timeout,
                                   unsigned int packetBufferSize, TMode mode,
                                   IInformationObjectReader& reader,
                                   const INameTranslator& translator, IIOEventLoop& loop,
                                   const IClock& clock, TTracker& tracker)
    : tracker_(tracker),
      address_(address),
      port_(port),
      connectionType_(type),
      interval_(interval),
      timeout_(timeout),
      mode_(mode),
      translator_(translator),
      loop_(loop),
      clock_(clock),
      filters_(kPrefix, reader, clock, tracker),
      engine_(TInfocastDatagramEngine::kInfocastRules, *this, filters_, tracker),
      buffer_(std::clamp(packetBufferSize, kMinPacketBufferSize, kMaxPacketBufferSize)),
      startTime_(clock.WallSeconds()) {}

TInfocastChannel::~TInfocastChannel() {
  Disconnect();
  StopIntervalTimer();
  StopTimeoutTimer();
}

void TInfocastChannel::SetCallback(IInfocastChannelCallback* callback) {
  engine_.SetCallback(callback);
}

void TInfocastChannel::AddObject(const std::string& name, unsigned int type) {
  objects_.insert_or_assign(name, TObjectInfo(type));
  if (IsConnected()) return;
  Connect();
  if (connectionType_ == Reconnected) {
    StartIntervalTimer();
    StartTimeoutTimer();
  }
}

void TInfocastChannel::DropObject(const std::string& name) {
  objects_.erase(name);
  if (IsConnected()) CheckObjects();
}

void TInfocastChannel::Connect() {
  Disconnect();
  tracker_.Trace("Connect(%s:%d)", address_.c_str(), port_);
  socket_ = OpenInfocastSocket(kPrefix, address_, port_, tracker_);
  if (!socket_) {
    // The address or port came from the network: retry as a failed join is retried, and
    // stay disconnected meanwhile.
    StartJoinRetryTimer();
    return;
  }
  if (!JoinInfocastGroup(*socket_, address_, tracker_)) StartJoinRetryTimer();
  try {
    loop_.RegisterFileDescriptor(socket_->Get(), IIOEventLoop::kReadable, 0, this);
  } catch (const TException& e) {
    tracker_.Error("%s%s", kPrefix, e.GetText());
    socket_.reset();
    if (joinRetryTimer_ == -1) StartJoinRetryTimer();
  }
}

void TInfocastChannel::Disconnect() {
  if (socket_) {
    tracker_.Trace("Disconnect(%s:%d)", address_.c_str(), port_);
    loop_.UnregisterFileDescriptor(socket_->Get());
    // A running retry timer means the join failed: there is no group to leave.
    if (joinRetryTimer_ == -1) LeaveInfocastGroup(*socket_, address_, tracker_);
    socket_.reset();
  }
  StopTimer(joinRetryTimer_);
}

time_t TInfocastChannel::GetTimeTotal() const { return clock_.WallSeconds() - startTime_; }

void TInfocastChannel::GetInformationObject(const std::string& name, std::string& value) const {
  filters_.GetInformationObject(name, value);
}

void TInfocastChannel::HandleEvent(int, unsigned int) {
  // A burst is taken in one event, up to a bound that keeps the loop's other descriptors and
  // timers served: a wake-up of the loop per datagram costs as much as the datagram itself.
  for (unsigned int taken = 0; socket_ && taken < kMaxDatagramsPerEvent; ++taken) {
    if (!ReceiveOne()) break;
  }
}

bool TInfocastChannel::ReceiveOne() {
  bool truncated = false;
  const ssize_t received = socket_->Receive(buffer_.data(), buffer_.size(), &truncated);
  const int receiveError = errno;
  if (productIdentifier_.empty()) ComputeProductIdentifier();
  if (received < 0) {
    // Nothing (more) waiting: the burst is over.
    if (receiveError == EAGAIN || receiveError == EWOULDBLOCK) return false;
    tracker_.Error("%sReceive failed; errno = %d", kPrefix, receiveError);
    return false;
  }
  // A cut datagram is reported by its length being above the buffer's.
  const size_t length = truncated ? buffer_.size() + 1 : static_cast<size_t>(received);
  engine_.Process(buffer_.data(), length, buffer_.size());
  return true;
}

void TInfocastChannel::HandleTimeout(int identifier) {
  if (identifier == -1) return;
  if (identifier == intervalTimer_) {
    Connect();
    StartTimeoutTimer();
  } else if (identifier == joinRetryTimer_) {
    Connect();
  } else if (identifier == timeoutTimer_) {
    Disconnect();
    UnmarkObjects();
    StopTimeoutTimer();
  }
}

void TInfocastChannel::StartIntervalTimer() {
  StopIntervalTimer();
  intervalTimer_ = loop_.AddTimeout(interval_ * kMillisecondsPerSecond, this);
}

void TInfocastChannel::StopIntervalTimer() { StopTimer(intervalTimer_); }

void TInfocastChannel::StartTimeoutTimer() {
  StopTimeoutTimer();
  timeoutTimer_ = loop_.AddTimeout(timeout_ * kMillisecondsPerSecond, this);
}

void TInfocastChannel::StopTimeoutTimer() { StopTimer(timeoutTimer_); }

void TInfocastChannel::StartJoinRetryTimer() {
  StopTimer(joinRetryTimer_);
  joinRetryTimer_ = loop_.AddTimeout(kJoinRetryMs, this);
}

void TInfocastChannel::StopTimer(int& identifier) {
  if (identifier == -1) return;
  loop_.RemoveTimeout(identifier);
  identifier = -1;
}

void TInfocastChannel::UnmarkObjects() {
  for (auto& entry : objects_) entry.second.marked = false;
}

void TInfocastChannel::CheckObjects() {
  const bool allMarked = std::all_of(objects_.begin(), objects_.end(),
                                     [](const auto& entry) { return entry.second.marked; });
  if (!allMarked) return;
  Disconnect();
  if (connectionType_ != Reconnected) return;
  // The window's round is complete: start the next window with every object wanted again,
  // or a channel whose marks outlived their window would take one object per window.
  UnmarkObjects();
  StopTimeoutTimer();
  if (objects_.empty()) StopIntervalTimer();
}

void TInfocastChannel::ComputeProductIdentifier() {
  std::string manufacturer;
  GetInformationObject("const.hw.manufacturer", manufacturer);
  if (manufacturer.empty() || manufacturer == kBrandManufacturer) {
    manufacturer = kDefaultManufacturer;
  }
  std::string productName;
  GetInformationObject("const.hw.productname", productName);
  if (productName.empty()) productName = kDefaultProductName;
  productIdentifier_ = manufacturer + "-" + productName;
}

bool TInfocastChannel::RoutePacket(const TInfocastHeader& header, size_t length,
                                   TInfocastRoute& route) {
  route.name = header.GetName();
  bool renamed = false;
  if (mode_ == Opch && (header.type == TInfocastHeader::kTypeProductInfo ||
                        header.type == TInfocastHeader::kTypeDirectory)) {
    route.configuration = true;
    route.directory = header.type == TInfocastHeader::kTypeDirectory;
    if (route.name == productIdentifier_) {
      route.name = kInfocastInfoName;
      renamed = true;
    } else if (header.type == TInfocastHeader::kTypeProductInfo) {
      return false;
    }
  } else if (mode_ == Normal && header.type == TInfocastHeader::kTypeInformationObject &&
             route.name == kNormalModeConfigurationFile) {
    route.name = kInfocastConfName;
    route.configuration = true;
    renamed = true;
  } else if (header.type == TInfocastHeader::kTypeBootcastInfo) {
    if (route.name != productIdentifier_) return false;
    route.name = kBootcastInfoName;
    renamed = true;
  } else if (header.type == TInfocastHeader::kTypeUtcTime) {
    route.name = kUtcTimeName;
    renamed = true;
  }

  ++totalPackets_;
  totalBytes_ += static_cast<unsigned int>(length);

  if (header.type == TInfocastHeader::kTypeInformationObject && !renamed &&
      translator_.HasAlias(route.name)) {
    route.name = translator_.Translate(route.name);
  }
  const auto entry = objects_.find(route.name);
  if (entry == objects_.end()) return false;
  route.evaluateDynamicHeader = header.type == TInfocastHeader::kTypeInformationObject;
  route.checkType = !route.configuration;
  route.registeredType = entry->second.type;
  return true;
}

bool TInfocastChannel::IsUnchangedObject(const std::string& name, uint16_t precoding,
                                         uint32_t signature) {
  const auto entry = objects_.find(name);
  return entry != objects_.end() && entry->second.lastPrecoding == precoding &&
         entry->second.lastSignature == signature;
}

void TInfocastChannel::OnObjectAccepted(const std::string& name, bool delivered, uint16_t precoding,
                                        uint32_t signature) {
  // The callback may have dropped the object meanwhile.
  const auto entry = objects_.find(name);
  if (entry == objects_.end()) return;
  if (delivered) {
    entry->second.lastPrecoding = precoding;
    entry->second.lastSignature = signature;
  }
  if (connectionType_ == Persistent) return;
  entry->second.marked = true;
  CheckObjects();
}
