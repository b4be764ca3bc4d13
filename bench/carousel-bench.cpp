// The head-end's send path against a raw sendmmsg loop, and its pacing at 10 Mbit/s.
//
//   carousel-bench [--unpinned] [-r ROUNDS] [--round-ms MS] [--paced-seconds S]
//
// Send rate: 1400-byte datagrams of one 100-datagram object to a loopback socket that is
// never read (the kernel drops what does not fit; both sides meet the same socket), once
// through TCarousel without a rate on the project's event loop (batches of 32), once by a
// loop that calls sendmmsg with the same prepared datagrams, 32 at a time. The two alternate
// for ROUNDS rounds of MS each (default 5 x 300 ms) on the same placement; the ratio raw /
// carousel is taken per round and printed last.
// Pacing: the carousel at 10 Mbit/s for S seconds (default 60) into a socket read on the same
// loop; prints the achieved rate against the target (goal: within 2%) and the largest burst
// above the rate seen at the receiver (goal: at most one batch, 32 x 1400 bytes).
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "headend/TCarousel.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/IClock.h"
#include "os/TEpollEventLoop.h"
#include "os/TUdpSocket.h"

namespace {

constexpr size_t kDatagram = 1400;
constexpr size_t kBatch = 32;
constexpr size_t kObjectDatagrams = 100;
constexpr uint64_t kPacedRate = 10000000;

TCarouselPlan Plan(uint16_t port, uint64_t rate) {
  TCarouselObject object;
  object.name = "bench.object";
  object.data.assign((kObjectDatagrams - 1) * 1356 + 1352, 'x');
  TCarouselChannel channel;
  channel.address = "127.0.0.1";
  channel.port = port;
  channel.rateBitsPerSecond = rate;
  channel.objects.push_back(object);
  TCarouselPlan plan;
  plan.channels.push_back(channel);
  return plan;
}

class TStopAfter final : public IIOTimeoutHandler {
 public:
  explicit TStopAfter(TEpollEventLoop& loop) : loop_(loop) {}
  void HandleTimeout(int) override { loop_.Stop(); }

 private:
  TEpollEventLoop& loop_;
};

double CarouselRate(uint16_t port, int roundMs) {
  TEpollEventLoop loop;
  TCarousel carousel(loop, loop.GetClock(), {0, "", kDatagram, kBatch});
  carousel.Apply(Plan(port, 0));
  TStopAfter stop(loop);
  const int timer = loop.AddTimeout(static_cast<unsigned>(roundMs), &stop);
  const auto start = bench::TClock::now();
  loop.Run();
  const double seconds = bench::SecondsSince(start);
  loop.RemoveTimeout(timer);
  return carousel.GetStats().at(0).datagrams / seconds;
}

double RawRate(uint16_t port, int roundMs) {
  const TCarouselObject object = Plan(port, 0).channels[0].objects[0];
  const std::vector<std::string> datagrams =
      TInfocastPacketizer(object.type, object.precoding, object.name, kDatagram)
          .Packetize(object.data);
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(port);
  destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<iovec> iovecs(datagrams.size());
  std::vector<mmsghdr> headers(datagrams.size());
  for (size_t i = 0; i < datagrams.size(); ++i) {
    iovecs[i] = {const_cast<char*>(datagrams[i].data()), datagrams[i].size()};
    headers[i].msg_hdr.msg_name = &destination;
    headers[i].msg_hdr.msg_namelen = sizeof destination;
    headers[i].msg_hdr.msg_iov = &iovecs[i];
    headers[i].msg_hdr.msg_iovlen = 1;
  }
  TUniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  uint64_t sent = 0;
  size_t position = 0;
  const auto start = bench::TClock::now();
  double seconds = 0;
  while ((seconds = bench::SecondsSince(start)) < roundMs / 1000.0) {
    const size_t count = std::min(kBatch, datagrams.size() - position);
    const int n = sendmmsg(socket.Get(), &headers[position], static_cast<unsigned>(count), 0);
    if (n > 0) {
      sent += static_cast<uint64_t>(n);
      position = (position + static_cast<size_t>(n)) % datagrams.size();
    }
  }
  return sent / seconds;
}

// Reads the paced channel on the carousel's own loop and keeps the largest burst above the
// rate: the most the received bytes ran ahead of rate x time since any earlier moment.
class TPacedReceiver final : public IIOEventHandler {
 public:
  explicit TPacedReceiver(TUdpSocket& socket) : socket_(socket), start_(bench::TClock::now()) {}

  void HandleEvent(int, unsigned int) override {
    char buffer[2048];
    for (ssize_t n; (n = socket_.Receive(buffer, sizeof buffer)) >= 0;) {
      if (bytes_ == 0) start_ = bench::TClock::now();
      bytes_ += static_cast<uint64_t>(n);
      const double ahead = bytes_ - kPacedRate / 8.0 * bench::SecondsSince(start_);
      lowest_ = std::min(lowest_, ahead - n);
      burst_ = std::max(burst_, ahead - lowest_);
    }
  }
  double Rate() const { return bytes_ * 8 / bench::SecondsSince(start_); }
  double Burst() const { return burst_; }

 private:
  TUdpSocket& socket_;
  bench::TClock::time_point start_;
  uint64_t bytes_ = 0;
  double lowest_ = 0;
  double burst_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bool pinned = true;
  int rounds = 5;
  int roundMs = 300;
  int pacedSeconds = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--unpinned") {
      pinned = false;
    } else if (argument == "-r" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (argument == "--round-ms" && i + 1 < argc) {
      roundMs = std::max(10, std::atoi(argv[++i]));
    } else if (argument == "--paced-seconds" && i + 1 < argc) {
      pacedSeconds = std::max(0, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: carousel-bench [--unpinned] [-r ROUNDS] [--round-ms MS] "
                   "[--paced-seconds S]\n");
      return 2;
    }
  }
  bench::TPlacement placement(pinned);
  placement.Place(getpid(), "carousel-bench");
  placement.Print();

  TUdpSocket sink("127.0.0.1", 0);
  std::vector<double> carousel, raw, ratio;
  for (int round = 0; round < rounds; ++round) {
    carousel.push_back(CarouselRate(sink.GetPort(), roundMs));
    raw.push_back(RawRate(sink.GetPort(), roundMs));
    ratio.push_back(raw.back() / carousel.back());
  }
  bench::PrintSpread("carousel (datagrams/s)", bench::Spread(carousel), "");
  bench::PrintSpread("raw-send (datagrams/s)", bench::Spread(raw), "");
  bench::PrintSpread("ratio raw / carousel", bench::Spread(ratio), "");

  if (pacedSeconds > 0) {
    TEpollEventLoop loop;
    TUdpSocket receiver("127.0.0.1", 0);
    receiver.SetReceiveBuffer(1 << 20);
    TPacedReceiver reader(receiver);
    loop.RegisterFileDescriptor(receiver.Get(), IIOEventLoop::kReadable, 0, &reader);
    TCarousel paced(loop, loop.GetClock(), {0, "", kDatagram, kBatch});
    paced.Apply(Plan(receiver.GetPort(), kPacedRate));
    TStopAfter stop(loop);
    const int timer = loop.AddTimeout(static_cast<unsigned>(pacedSeconds * 1000), &stop);
    loop.Run();
    loop.RemoveTimeout(timer);
    loop.UnregisterFileDescriptor(receiver.Get());
    const double achieved = reader.Rate();
    std::printf(
        "paced 10 Mbit/s over %d s: %.0f bit/s (%+.2f%%), largest burst above the rate "
        "%.0f bytes (one batch: %zu bytes), largest sendmmsg %zu datagrams\n",
        pacedSeconds, achieved, (achieved / kPacedRate - 1) * 100, reader.Burst(),
        kBatch * kDatagram, paced.GetStats().at(0).largestBatch);
  }
  std::printf("carousel: %.0f datagrams/s\n", bench::Spread(carousel).median);
  std::printf("raw-send: %.0f datagrams/s\n", bench::Spread(raw).median);
  std::printf("ratio: %.2f\n", bench::Spread(ratio).median);
  return 0;
}
