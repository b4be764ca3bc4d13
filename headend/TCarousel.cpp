#include "headend/TCarousel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/TException.h"
#include "base/TTracker.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/IIOEventHandler.h"
#include "os/IIOTimeoutHandler.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"

namespace {

// A loop held up for longer (a suspended machine) earns no more than a full bucket anyway;
// the bound keeps elapsed x rate far inside 64 bits.
constexpr int64_t kMaxElapsedMs = 1000000;
constexpr int64_t kMaxWakeMs = 20;
// sendmmsg calls per wake-up. Each takes at least one datagram's credit, and the credit is
// at most one batch, so only a channel of tiny objects (many cycles per wake-up) needs many;
// the bound keeps a wake-up short whatever the plan.
constexpr int kMaxBatchesPerWake = 64;

}  // namespace

// One channel: its socket, its cycle of datagrams, its token bucket.
class TCarouselSender final : public IIOTimeoutHandler, public IIOEventHandler {
 public:
  TCarouselSender(TCarousel& owner, const TCarouselChannel& channel, TUniqueFd socket)
      : owner_(owner), key_(channel.Key()), socket_(std::move(socket)) {
    destination_.sin_family = AF_INET;
    inet_pton(AF_INET, channel.address.c_str(), &destination_.sin_addr);
    destination_.sin_port = htons(channel.port);
    cycleStartMs_ = owner_.clock_.MonotonicMs();
    lastRefillMs_ = cycleStartMs_;
  }

  ~TCarouselSender() override { Stop(); }

  // Takes effect at the next cycle start; the first cycle starts at once.
  void SetNext(std::vector<std::string> datagrams, uint64_t rate) {
    const bool first = !running_;
    next_ = std::move(datagrams);
    hasNext_ = true;
    if (first) {
      TakeNext();
      Start(rate);
    } else if (rate != rate_) {
      Stop();
      Start(rate);
    }
  }

  void Stop() {
    if (timer_ >= 0) owner_.loop_.RemoveTimeout(timer_);
    timer_ = -1;
    if (watching_) owner_.loop_.UnregisterFileDescriptor(socket_.Get());
    watching_ = false;
    running_ = false;
  }

  const TCarousel::TChannelStats& Stats() const { return stats_; }

  // IIOTimeoutHandler
  void HandleTimeout(int) override {
    Refill();
    for (int i = 0; i < kMaxBatchesPerWake && SendBatch(); ++i) {
    }
  }
  // IIOEventHandler: writable, for a channel without rate.
  void HandleEvent(int, unsigned int) override { SendBatch(); }

 private:
  void Start(uint64_t rate) {
    rate_ = rate;
    const size_t batch = owner_.settings_.batch;
    const int64_t depthBits = static_cast<int64_t>(batch * owner_.settings_.datagramSize * 8);
    depth_ = depthBits * 1000;
    credit_ = 0;  // no burst at start: the first datagram waits for its credit
    lastRefillMs_ = owner_.clock_.MonotonicMs();
    running_ = true;
    if (rate_ == 0) {
      owner_.loop_.RegisterFileDescriptor(socket_.Get(), TEpollEventLoop::kWritable, 0, this);
      watching_ = true;
      return;
    }
    const int64_t depthMs = depthBits * 1000 / static_cast<int64_t>(rate_);
    const int64_t wake = std::clamp<int64_t>(depthMs / 4, 1, kMaxWakeMs);
    timer_ = owner_.loop_.AddTimeout(static_cast<unsigned int>(wake), this);
  }

  void TakeNext() {
    cycle_ = std::move(next_);
    next_.clear();
    hasNext_ = false;
    headers_.assign(cycle_.size(), mmsghdr{});
    iovecs_.assign(cycle_.size(), iovec{});
    for (size_t i = 0; i < cycle_.size(); ++i) {
      iovecs_[i].iov_base = &cycle_[i][0];
      iovecs_[i].iov_len = cycle_[i].size();
      msghdr& header = headers_[i].msg_hdr;
      header.msg_name = &destination_;
      header.msg_namelen = sizeof destination_;
      header.msg_iov = &iovecs_[i];
      header.msg_iovlen = 1;
    }
    position_ = 0;
  }

  void Refill() {
    const int64_t now = owner_.clock_.MonotonicMs();
    const int64_t elapsed = std::min(now - lastRefillMs_, kMaxElapsedMs);
    lastRefillMs_ = now;
    if (elapsed > 0) credit_ = std::min(depth_, credit_ + elapsed * static_cast<int64_t>(rate_));
  }

  int64_t Cost(size_t index) const { return static_cast<int64_t>(cycle_[index].size()) * 8000; }

  // One sendmmsg of what the credit allows; false when nothing could go.
  bool SendBatch() {
    if (!running_) return false;
    if (position_ >= cycle_.size()) EndCycle();
    if (cycle_.empty()) return false;
    size_t count = 0;
    int64_t spent = 0;
    while (count < owner_.settings_.batch && position_ + count < cycle_.size()) {
      const int64_t cost = Cost(position_ + count);
      if (rate_ != 0 && spent + cost > credit_) break;
      spent += cost;
      ++count;
    }
    if (count == 0) return false;
    const int sent = sendmmsg(socket_.Get(), &headers_[position_], static_cast<unsigned>(count), 0);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return false;
      // Unreachable destinations and the like: say so once per kind, skip the datagram, go on.
      if (errno != lastErrno_) {
        TTracker::GetProcessTracker()->Error(
            "%s", ErrnoMessage("TCarousel: send to " + key_, errno).c_str());
      }
      lastErrno_ = errno;
      Advance(1);
      return true;
    }
    lastErrno_ = 0;
    stats_.largestBatch = std::max(stats_.largestBatch, static_cast<size_t>(sent));
    Advance(static_cast<size_t>(sent));
    return static_cast<size_t>(sent) == count;
  }

  void Advance(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (rate_ != 0) credit_ -= Cost(position_);
      stats_.bytes += cycle_[position_].size();
      ++stats_.datagrams;
      ++position_;
    }
    if (position_ >= cycle_.size()) EndCycle();
  }

  void EndCycle() {
    const int64_t now = owner_.clock_.MonotonicMs();
    ++stats_.cycles;
    stats_.lastCycleMs = now - cycleStartMs_;
    cycleStartMs_ = now;
    position_ = 0;
    owner_.OnCycleStart(key_);
    if (hasNext_) TakeNext();
  }

  TCarousel& owner_;
  std::string key_;
  TUniqueFd socket_;
  sockaddr_in destination_{};
  uint64_t rate_ = 0;
  int timer_ = -1;
  bool watching_ = false;
  bool running_ = false;
  std::vector<std::string> cycle_;
  std::vector<mmsghdr> headers_;
  std::vector<iovec> iovecs_;
  size_t position_ = 0;
  std::vector<std::string> next_;
  bool hasNext_ = false;
  int64_t depth_ = 0;
  int64_t credit_ = 0;
  int64_t lastRefillMs_ = 0;
  int64_t cycleStartMs_ = 0;
  int lastErrno_ = 0;
  TCarousel::TChannelStats stats_;
};

namespace {

TUniqueFd OpenSocket(const TCarouselChannel& channel, const TCarousel::TSettings& settings) {
  in_addr address{};
  if (inet_pton(AF_INET, channel.address.c_str(), &address) != 1) {
    throw TException("TCarousel: '" + channel.address + "' is not a dotted IPv4 address");
  }
  const uint32_t host = ntohl(address.s_addr);
  if (!IN_MULTICAST(host) && (host >> 24) != 127 && settings.ttl == 0) {
    throw TException("TCarousel: unicast destination " + channel.Key() +
                     " outside 127.0.0.0/8 needs a TTL of 1 or more");
  }
  TUniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.IsValid()) throw TException(ErrnoMessage("TCarousel: UDP socket", errno));
  const int ttl = settings.ttl;
  if (setsockopt(socket.Get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
      (ttl > 0 && setsockopt(socket.Get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0)) {
    throw TException(ErrnoMessage("TCarousel: TTL of " + channel.Key(), errno));
  }
  if (!settings.interface.empty()) {
    in_addr interface {};
    if (inet_pton(AF_INET, settings.interface.c_str(), &interface) != 1 ||
        setsockopt(socket.Get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0) {
      throw TException(ErrnoMessage("TCarousel: interface " + settings.interface, errno));
    }
  }
  return socket;
}

std::vector<std::string> Datagrams(const TCarouselChannel& channel, size_t datagramSize) {
  std::vector<std::string> datagrams;
  for (const TCarouselObject& object : channel.objects) {
    TInfocastPacketizer packetizer(object.type, object.precoding, object.name, datagramSize);
    if (object.hasTimeFilter) packetizer.SetTimeFilter(object.validStart, object.validEnd);
    if (!object.targetFilter.empty()) packetizer.SetTargetFilter(object.targetFilter);
    for (std::string& datagram : packetizer.Packetize(object.data)) {
      datagrams.push_back(std::move(datagram));
    }
  }
  return datagrams;
}

}  // namespace

TCarousel::TCarousel(IIOEventLoop& loop, IClock& clock, const TSettings& settings)
    : loop_(loop), clock_(clock), settings_(settings) {
  if (settings_.batch == 0) settings_.batch = 1;
}

TCarousel::~TCarousel() = default;

void TCarousel::Apply(const TCarouselPlan& plan) {
  // Everything that can fail comes first, so a refused plan leaves the old one playing.
  std::map<std::string, std::vector<std::string>> prepared;
  std::map<std::string, TUniqueFd> sockets;
  for (const TCarouselChannel& channel : plan.channels) {
    try {
      prepared[channel.Key()] = Datagrams(channel, settings_.datagramSize);
    } catch (const TException& failure) {
      throw TException("TCarousel: " + channel.Key() + ": " + failure.GetText());
    }
    if (!senders_.count(channel.Key())) sockets[channel.Key()] = OpenSocket(channel, settings_);
  }
  retired_.clear();
  for (auto it = senders_.begin(); it != senders_.end();) {
    if (prepared.count(it->first)) {
      ++it;
      continue;
    }
    it->second->Stop();
    retired_.push_back(std::move(it->second));
    it = senders_.erase(it);
  }
  for (const TCarouselChannel& channel : plan.channels) {
    auto& sender = senders_[channel.Key()];
    if (!sender) {
      sender = std::make_unique<TCarouselSender>(*this, channel, std::move(sockets[channel.Key()]));
    }
    sender->SetNext(std::move(prepared[channel.Key()]), channel.rateBitsPerSecond);
  }
}

std::vector<TCarousel::TChannelStats> TCarousel::GetStats() const {
  std::vector<TChannelStats> stats;
  for (const auto& [key, sender] : senders_) {
    stats.push_back(sender->Stats());
    stats.back().key = key;
  }
  return stats;
}

void TCarousel::OnCycleStart(const std::string& key) {
  if (hook_) hook_(key);
}
