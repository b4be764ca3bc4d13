// infocast-carousel: the head-end. Plays a whole Infocast configuration: the root
// configuration on the meta channel and every channel it names, each as a carousel at its
// bitrate, and picks up changes without a restart.
//
//   infocast-carousel [-o] [--meta ADDRESS:PORT] [--meta-rate RATE] [--product ID]
//                     [--ttl N] [--interface ADDRESS] [--max-size BYTES] [--batch N]
//                     [--stats SECONDS] [--poll] DESCRIPTION
//
// DESCRIPTION is the root configuration with head-end attributes (headend/
// TCarouselDescriptionParser.h). A changed description or source file is picked up at the
// start of the next cycle of each channel; SIGHUP re-reads at once. A description that no
// longer reads keeps the previous one playing, with a message naming the file and line. At
// start-up every refusal comes before the first datagram. SIGINT and SIGTERM end it with
// status 0; 1 is a refused description or a socket failure, 2 a usage error.
#include <getopt.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "base/ParseNumber.h"
#include "base/TException.h"
#include "base/TStderrTracker.h"
#include "headend/TCarousel.h"
#include "headend/TCarouselDescriptionParser.h"
#include "headend/TFileChangeWatcher.h"
#include "os/IClock.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"
#include "tools/ToolMain.h"

namespace {

using tool::UsageError;
constexpr uint64_t kMaxUdpPayload = 65507;

constexpr char kUsage[] =
    "usage: infocast-carousel [-o] [--meta ADDRESS:PORT] [--meta-rate RATE] [--product ID]\n"
    "                         [--ttl N] [--interface ADDRESS] [--max-size BYTES] [--batch N]\n"
    "                         [--stats SECONDS] [--poll] DESCRIPTION\n";

struct TOptions {
  TCarouselDescriptionParser::TSettings description;
  TCarousel::TSettings carousel;
  unsigned statsSeconds = 0;
  bool poll = false;
  std::string path;
};

uint64_t Number(const char* option, const char* text, uint64_t min, uint64_t max) {
  uint64_t value = 0;
  if (ParseNumber(text, max, value) != TParseNumberResult::kOk || value < min) {
    UsageError(std::string(option) + ": '" + text + "' is not a number from " +
               std::to_string(min) + " to " + std::to_string(max));
  }
  return value;
}

TOptions ParseOptions(int argc, char** argv) {
  enum { kMeta = 256, kMetaRate, kProduct, kTtl, kInterface, kMaxSize, kBatch, kStats, kPoll };
  static const option kLongOptions[] = {{"meta", required_argument, nullptr, kMeta},
                                        {"meta-rate", required_argument, nullptr, kMetaRate},
                                        {"product", required_argument, nullptr, kProduct},
                                        {"ttl", required_argument, nullptr, kTtl},
                                        {"interface", required_argument, nullptr, kInterface},
                                        {"max-size", required_argument, nullptr, kMaxSize},
                                        {"batch", required_argument, nullptr, kBatch},
                                        {"stats", required_argument, nullptr, kStats},
                                        {"poll", no_argument, nullptr, kPoll},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  TOptions options;
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, "oh", kLongOptions, nullptr)) != -1) {
    const std::string value = optarg ? optarg : "";
    switch (option) {
      case 'o':
        options.description.mode = TCarouselDescriptionParser::TMode::kOpch;
        break;
      case kMeta: {
        const size_t colon = value.rfind(':');
        if (colon == std::string::npos) UsageError("--meta: '" + value + "' is not ADDRESS:PORT");
        options.description.metaAddress = value.substr(0, colon);
        options.description.metaPort =
            static_cast<uint16_t>(Number("--meta port", optarg + colon + 1, 1, 65535));
        break;
      }
      case kMetaRate:
        try {
          options.description.metaRate = TCarouselDescriptionParser::ParseRate(value);
        } catch (const TException& failure) {
          UsageError(std::string("--meta-rate: ") + failure.GetText());
        }
        break;
      case kProduct:
        options.description.productId = value;
        break;
      case kTtl:
        options.carousel.ttl = static_cast<int>(Number("--ttl", optarg, 0, 255));
        break;
      case kInterface:
        options.carousel.interface = value;
        break;
      case kMaxSize:
        options.carousel.datagramSize = Number("--max-size", optarg, 100, kMaxUdpPayload);
        options.description.datagramSize = options.carousel.datagramSize;
        break;
      case kBatch:
        options.carousel.batch = Number("--batch", optarg, 1, 1024);
        break;
      case kStats:
        options.statsSeconds = static_cast<unsigned>(Number("--stats", optarg, 1, 86400));
        break;
      case kPoll:
        options.poll = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        std::exit(0);
      default:
        UsageError(std::string("unknown option or missing value: ") + argv[optind - 1]);
    }
  }
  if (optind + 1 != argc) UsageError("give exactly one DESCRIPTION");
  options.path = argv[optind];
  return options;
}

// Reacts to the outside: signals, changed files, the statistics interval.
class THeadEnd final : public IIOEventHandler, public IIOTimeoutHandler {
 public:
  THeadEnd(const TOptions& options, TEpollEventLoop& loop)
      : options_(options),
        loop_(loop),
        parser_(options.description, &TCarouselDescriptionParser::ReadFile),
        carousel_(loop, loop.GetClock(), options.carousel),
        watcher_(loop, options.poll) {}

  ~THeadEnd() override {
    if (signals_.IsValid()) loop_.UnregisterFileDescriptor(signals_.Get());
    if (statsTimer_ >= 0) loop_.RemoveTimeout(statsTimer_);
  }

  // Throws TException for a refused description or socket; nothing is sent then.
  void Start() {
    const TCarouselPlan plan = parser_.Parse(options_.path);
    carousel_.Apply(plan);
    watcher_.Watch(plan.files);
    carousel_.SetCycleHook([this](const std::string&) {
      if (watcher_.TakeChanged()) Reload();
    });
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signals_.Reset(signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_.IsValid()) throw TException(ErrnoMessage("signalfd", errno));
    loop_.RegisterFileDescriptor(signals_.Get(), IIOEventLoop::kReadable, 0, this);
    if (options_.statsSeconds > 0) {
      statsTimer_ = loop_.AddTimeout(options_.statsSeconds * 1000, this);
      lastStatsMs_ = loop_.GetClock().MonotonicMs();
    }
    std::fprintf(stderr, "infocast-carousel: playing %s: %zu channels%s\n", options_.path.c_str(),
                 plan.channels.size(), watcher_.IsPolling() ? " (polling for changes)" : "");
  }

  // IIOEventHandler: the signalfd.
  void HandleEvent(int, unsigned int) override {
    signalfd_siginfo info{};
    while (read(signals_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGHUP) {
        Reload();
      } else {
        loop_.Stop();
      }
    }
  }

  // IIOTimeoutHandler: the statistics interval.
  void HandleTimeout(int) override {
    const int64_t now = loop_.GetClock().MonotonicMs();
    const double seconds = (now - lastStatsMs_) / 1000.0;
    lastStatsMs_ = now;
    for (const TCarousel::TChannelStats& stats : carousel_.GetStats()) {
      const TCarousel::TChannelStats& before = previous_[stats.key];
      std::printf("stats %s: cycles %" PRIu64 ", %.1f datagrams/s, %.0f bytes/s, cycle %.3f s\n",
                  stats.key.c_str(), stats.cycles,
                  seconds > 0 ? (stats.datagrams - before.datagrams) / seconds : 0.0,
                  seconds > 0 ? (stats.bytes - before.bytes) / seconds : 0.0,
                  stats.lastCycleMs / 1000.0);
      previous_[stats.key] = stats;
    }
    std::fflush(stdout);
  }

 private:
  void Reload() {
    try {
      const TCarouselPlan plan = parser_.Parse(options_.path);
      carousel_.Apply(plan);
      watcher_.Watch(plan.files);
      std::fprintf(stderr, "infocast-carousel: %s read again: %zu channels\n",
                   options_.path.c_str(), plan.channels.size());
    } catch (const TException& failure) {
      std::fprintf(stderr, "infocast-carousel: %s; the previous description keeps playing\n",
                   failure.GetText());
    }
  }

  const TOptions& options_;
  TEpollEventLoop& loop_;
  TCarouselDescriptionParser parser_;
  TCarousel carousel_;
  TFileChangeWatcher watcher_;
  TUniqueFd signals_;
  int statsTimer_ = -1;
  int64_t lastStatsMs_ = 0;
  std::map<std::string, TCarousel::TChannelStats> previous_;
};

int Run(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  TStderrTracker tracker(TTracker::kWarning, false);
  TTracker::SetProcessTracker(&tracker);
  TEpollEventLoop loop;
  THeadEnd headEnd(options, loop);
  headEnd.Start();
  loop.Run();
  TTracker::SetProcessTracker(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return tool::Main("infocast-carousel", kUsage, Run, argc, argv); }
