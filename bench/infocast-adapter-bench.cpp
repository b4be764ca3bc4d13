// The Infocast adapter from datagram to store, and the cost of a configuration rebuild.
//
//   infocast-adapter-bench [-n OBJECTS] [-r ROUNDS]
//
// "objects": changing one-packet objects sent over loopback to a configured channel, each
// stored and notified to 10 subscribers (one per watched name pattern), objects per second.
// "rebuild": the time of one full rebuild for a root configuration of 50 channels and 1,000
// objects (sockets opened, objects registered). Then 10,000 rebuilds of a small configuration
// and the resident set size before and after them. One process; all on 127.0.0.1.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "adapters/TInfocastAdapter.h"
#include "bench/BenchSupport.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TEpollEventLoop.h"
#include "os/TUdpSocket.h"
#include "service/TInformationService.h"
#include "service/TSubscriptionList.h"

namespace {

class TQuietTracker final : public TTracker {
 public:
  TQuietTracker() : TTracker(1) {}  // fatal only: a loopback group cannot be joined

 protected:
  void Output(int, const char* format, va_list args) override {
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
  }
};

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  int objects = 20000;
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "-n") objects = std::atoi(argv[i + 1]);
    if (std::string(argv[i]) == "-r") rounds = std::atoi(argv[i + 1]);
  }
  if (objects < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: infocast-adapter-bench [-n OBJECTS] [-r ROUNDS]\n");
    return 2;
  }
  TQuietTracker tracker;
  TTracker::SetProcessTracker(&tracker);
  TEpollEventLoop loop;
  size_t notifications = 0;
  TSubscriptionList subscriptions(nullptr, [&](const std::string&, TSubscriptionList::TNotification,
                                               const TStringList&) { ++notifications; });
  TInformationService service("", &subscriptions);
  service.SetAddressCheck(false);
  const uint16_t dataPort = TUdpSocket("127.0.0.1", 0).GetPort();
  auto owned = std::make_unique<TInfocastAdapter>("127.0.0.1:" + std::to_string(dataPort + 1), "",
                                                  1600, TInfocastChannel::Normal, &service,
                                                  &service, nullptr, &loop);
  TInfocastAdapter* adapter = owned.get();
  service.AddAdapter(std::move(owned));
  service.Start();
  for (int s = 0; s < 10; ++s) service.SubscribeObject("var.bench.*", s, "s" + std::to_string(s));

  // objects: 100 names on one channel, values changing every send.
  std::string root = "<Infocast><Channel address=\"127.0.0.1\" port=\"" + std::to_string(dataPort) +
                     "\" connection=\"Persistent\">";
  for (int i = 0; i < 100; ++i) {
    root += "<Object name=\"var.bench." + std::to_string(i) + "\" fetch=\"Prefetch\"/>";
  }
  root += "</Channel></Infocast>";
  adapter->OnDirectoryChanged("_metachannel.infocast2.conf", root, false);
  loop.RunOnce(0);
  TUdpSocket sender("127.0.0.1", 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dataPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<double> rates;
  for (int round = 0; round < rounds; ++round) {
    std::vector<std::string> datagrams;
    for (int i = 0; i < objects; ++i) {
      TInfocastPacketizer packetizer(1, TInfocastHeader::kPrecodingCrc32,
                                     "var.bench." + std::to_string(i % 100), 1400);
      datagrams.push_back(
          packetizer.Packetize("value " + std::to_string(round) + "/" + std::to_string(i))[0]);
    }
    const size_t before = notifications;
    const auto start = bench::TClock::now();
    for (size_t i = 0; i < datagrams.size(); i += 64) {
      for (size_t j = i; j < std::min(i + 64, datagrams.size()); ++j) {
        ::sendto(sender.Get(), datagrams[j].data(), datagrams[j].size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
      for (int pass = 0; pass < 4; ++pass) loop.RunOnce(0);
    }
    const double seconds = bench::SecondsSince(start);
    const size_t delivered = (notifications - before) / 10;
    rates.push_back(static_cast<double>(delivered) / seconds);
  }
  bench::PrintSpread("objects to store, 10 subscribers", bench::Spread(rates), "objects/s");

  // rebuild: 50 channels of 20 objects each.
  std::string big = "<Infocast>";
  for (int c = 0; c < 50; ++c) {
    big += "<Channel address=\"127.0.0.1\" port=\"" + std::to_string(40000 + c) +
           "\" connection=\"Persistent\">";
    for (int o = 0; o < 20; ++o) {
      big += "<Object name=\"var.big." + std::to_string(c) + "." + std::to_string(o) +
             "\" fetch=\"" + (o % 2 ? "Prefetch" : "OnRequest\" countref=\"true") + "\"/>";
    }
    big += "</Channel>";
  }
  big += "</Infocast>";
  std::vector<double> rebuilds;
  for (int round = 0; round < rounds; ++round) {
    const std::string text = big + "<!-- " + std::to_string(round) + " -->";
    const auto start = bench::TClock::now();
    adapter->OnDirectoryChanged("_metachannel.infocast2.conf", text, false);
    loop.RunOnce(0);  // the release of the replaced channels belongs to the rebuild
    rebuilds.push_back(bench::SecondsSince(start) * 1000.0);
  }
  bench::PrintSpread("rebuild, 50 channels, 1000 objects", bench::Spread(rebuilds), "ms");

  const long rssBefore = ResidentKiB();
  for (int round = 0; round < 10000; ++round) {
    adapter->OnDirectoryChanged("_metachannel.infocast2.conf",
                                root + "<!-- " + std::to_string(round % 7) + " -->", false);
    loop.RunOnce(0);
  }
  std::printf("rss before/after 10000 rebuilds: %ld KiB / %ld KiB\n", rssBefore, ResidentKiB());
  std::printf("objects: %.0f objects/s\nrebuild: %.2f ms\n", bench::Spread(rates).median,
              bench::Spread(rebuilds).median);
  return 0;
}
