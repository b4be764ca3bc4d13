// infocast-send: sends files as Infocast objects, the way a head-end feeds boxes, or dumps
// the datagrams as hex for scripts and tests.
//
//   infocast-send [--type N] [--precoding N] [--name NAME] [--time-filter START-END]
//                 [--target-filter TEXT] [--max-size BYTES] [--ttl N] [--interface ADDRESS]
//                 [--repeat MS] (--dump | ADDRESS:PORT) PATH...
//
// Each PATH is a file (one object named --name or the file's base name) or a directory (one
// object per regular file in it, named after the file, in name order). All files are read
// before the first datagram goes out, so a bad PATH sends nothing. Objects go out one after
// the other, never interleaved, because a box assembles one object per channel at a time.
// --ttl defaults to 0: multicast then stays on this machine, and a unicast destination other
// than 127.0.0.0/8 is refused unless a TTL is given. --repeat resends everything every MS
// milliseconds until SIGINT or SIGTERM. Exit 0 on success, 1 on a failure (unreadable file,
// socket error), 2 on a usage error.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/ParseNumber.h"
#include "base/TException.h"
#include "infocast/TInfocastHeader.h"
#include "infocast/TInfocastPacketizer.h"
#include "os/TUniqueFd.h"
#include "tools/ToolMain.h"

namespace {

using tool::Failure;
using tool::kExitFailure;
using tool::kExitUsage;
using tool::UsageError;
// Largest UDP payload over IPv4.
constexpr uint64_t kMaxUdpPayload = 65507;
// What a box receives per datagram unless started with a larger buffer.
constexpr uint64_t kBoxReceiveBuffer = 1600;
constexpr uint64_t kMaxRepeatMs = 24ull * 3600 * 1000;

constexpr char kUsage[] =
    "usage: infocast-send [--type N] [--precoding N] [--name NAME] [--time-filter START-END]\n"
    "                     [--target-filter TEXT] [--max-size BYTES] [--ttl N]\n"
    "                     [--interface ADDRESS] [--repeat MS] (--dump | ADDRESS:PORT) PATH...\n";

struct TObject {
  std::string name;
  std::string data;
};

struct TOptions {
  uint16_t type = TInfocastHeader::kTypeInformationObject;
  uint16_t precoding = TInfocastHeader::kPrecodingCrc32;
  bool hasName = false;
  std::string name;
  bool hasTimeFilter = false;
  uint32_t timeStart = 0;
  uint32_t timeEnd = 0;
  bool hasTargetFilter = false;
  std::string targetFilter;
  size_t maxSize = 1400;
  int ttl = 0;
  bool hasInterface = false;
  in_addr interface {};
  uint64_t repeatMs = 0;
  bool dump = false;
  sockaddr_in destination{};
  std::vector<std::string> paths;
};

// Decimal, or hexadecimal after "0x"; no sign, no octal, nothing trailing, at most max.
uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  uint64_t value = 0;
  switch (::ParseNumber(text, max, value)) {
    case TParseNumberResult::kOk:
      return value;
    case TParseNumberResult::kNotANumber:
      UsageError(option + ": '" + text + "' is not a number");
    case TParseNumberResult::kAboveMax:
      break;
  }
  UsageError(option + ": " + text + " is above " + std::to_string(max));
}

in_addr ParseAddress(const std::string& option, const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
    UsageError(option + ": '" + text + "' is not a dotted IPv4 address");
  }
  return address;
}

sockaddr_in ParseDestination(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    UsageError("destination '" + text + "' is not ADDRESS:PORT");
  }
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr = ParseAddress("destination", text.substr(0, colon));
  const uint64_t port = ParseNumber("destination port", text.substr(colon + 1), 65535);
  if (port == 0) {
    UsageError("destination port must not be 0");
  }
  destination.sin_port = htons(static_cast<uint16_t>(port));
  return destination;
}

void ParseTimeFilter(const std::string& text, TOptions& options) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) {
    UsageError("--time-filter: '" + text + "' is not START-END");
  }
  options.timeStart = ParseNumber("--time-filter", text.substr(0, dash), UINT32_MAX);
  options.timeEnd = ParseNumber("--time-filter", text.substr(dash + 1), UINT32_MAX);
  if (options.timeStart > options.timeEnd) {
    UsageError("--time-filter: start " + std::to_string(options.timeStart) + " is after end " +
               std::to_string(options.timeEnd));
  }
  options.hasTimeFilter = true;
}

TOptions ParseOptions(int argc, char** argv) {
  enum {
    kType = 256,
    kPrecoding,
    kName,
    kTimeFilter,
    kTargetFilter,
    kMaxSize,
    kTtl,
    kInterface,
    kRepeat,
    kDump,
    kHelp = 'h'  // -h as well as --help: the first thing a user tries
  };
  static const option kLongOptions[] = {
      {"type", required_argument, nullptr, kType},
      {"precoding", required_argument, nullptr, kPrecoding},
      {"name", required_argument, nullptr, kName},
      {"time-filter", required_argument, nullptr, kTimeFilter},
      {"target-filter", required_argument, nullptr, kTargetFilter},
      {"max-size", required_argument, nullptr, kMaxSize},
      {"ttl", required_argument, nullptr, kTtl},
      {"interface", required_argument, nullptr, kInterface},
      {"repeat", required_argument, nullptr, kRepeat},
      {"dump", no_argument, nullptr, kDump},
      {"help", no_argument, nullptr, kHelp},
      {nullptr, 0, nullptr, 0}};
  TOptions options;
  opterr = 0;
  int option;
  while ((option = getopt_long(argc, argv, "h", kLongOptions, nullptr)) != -1) {
    const std::string value = optarg ? optarg : "";
    switch (option) {
      case kType:
        options.type = ParseNumber("--type", value, 0xFFFF);
        break;
      case kPrecoding:
        options.precoding = ParseNumber("--precoding", value, 0xFFFF);
        break;
      case kName:
        options.hasName = true;
        options.name = value;
        break;
      case kTimeFilter:
        ParseTimeFilter(value, options);
        break;
      case kTargetFilter:
        options.hasTargetFilter = true;
        options.targetFilter = value;
        break;
      case kMaxSize:
        options.maxSize = ParseNumber("--max-size", value, kMaxUdpPayload);
        break;
      case kTtl:
        options.ttl = static_cast<int>(ParseNumber("--ttl", value, 255));
        break;
      case kInterface:
        options.hasInterface = true;
        options.interface = ParseAddress("--interface", value);
        break;
      case kRepeat:
        options.repeatMs = ParseNumber("--repeat", value, kMaxRepeatMs);
        if (options.repeatMs == 0) {
          UsageError("--repeat must be at least 1 millisecond");
        }
        break;
      case kDump:
        options.dump = true;
        break;
      case kHelp:
        std::fputs(kUsage, stdout);
        std::exit(0);
      default:
        UsageError(std::string("unknown option or missing value: ") + argv[optind - 1]);
    }
  }
  std::vector<std::string> arguments(argv + optind, argv + argc);
  if (!options.dump) {
    if (arguments.empty()) {
      UsageError("give --dump or a destination ADDRESS:PORT");
    }
    options.destination = ParseDestination(arguments.front());
    arguments.erase(arguments.begin());
    const uint32_t host = ntohl(options.destination.sin_addr.s_addr);
    if (!IN_MULTICAST(host) && (host >> 24) != 127 && options.ttl == 0) {
      UsageError("a unicast destination outside 127.0.0.0/8 needs --ttl 1 or more");
    }
  }
  if (arguments.empty()) {
    UsageError("no PATH to send");
  }
  options.paths = arguments;
  return options;
}

// The packetizer for one object; refusals of the options themselves are usage errors.
TInfocastPacketizer MakePacketizer(const TOptions& options, const std::string& name) {
  try {
    TInfocastPacketizer packetizer(options.type, options.precoding, name, options.maxSize);
    if (options.hasTimeFilter) {
      packetizer.SetTimeFilter(options.timeStart, options.timeEnd);
    }
    if (options.hasTargetFilter) {
      packetizer.SetTargetFilter(options.targetFilter);
    }
    packetizer.GetPacketCount(0);
    return packetizer;
  } catch (const TVerboseException&) {
    throw;
  } catch (const TException& e) {
    UsageError(e.GetText());
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    Failure(ErrnoMessage("cannot open " + path.string(), errno));
  }
  std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) {
    Failure(ErrnoMessage("cannot read " + path.string(), errno));
  }
  return data;
}

std::vector<TObject> ReadObjects(const TOptions& options) {
  namespace fs = std::filesystem;
  std::vector<TObject> objects;
  for (const std::string& text : options.paths) {
    const fs::path path(text);
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> files;
      for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        if (entry.is_regular_file(error)) {
          files.push_back(entry.path());
        }
      }
      if (error) {
        Failure("cannot list " + text + ": " + error.message());
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        objects.push_back({file.filename().string(), ReadFile(file)});
      }
    } else if (fs::is_regular_file(path, error)) {
      objects.push_back(
          {options.hasName ? options.name : path.filename().string(), ReadFile(path)});
    } else {
      Failure(text + " is neither a file nor a directory");
    }
  }
  return objects;
}

TUniqueFd OpenSocket() {
  TUniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket.IsValid()) {
    Failure(ErrnoMessage("cannot open UDP socket", errno));
  }
  return socket;
}

void SetUpSocket(const TUniqueFd& socket, const TOptions& options) {
  const int ttl = options.ttl;
  if (setsockopt(socket.Get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
    Failure(ErrnoMessage("cannot set IP_MULTICAST_TTL", errno));
  }
  // A unicast TTL of 0 does not exist; unicast with --ttl 0 is only allowed to loopback.
  if (ttl > 0 && setsockopt(socket.Get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
    Failure(ErrnoMessage("cannot set IP_TTL", errno));
  }
  if (options.hasInterface && setsockopt(socket.Get(), IPPROTO_IP, IP_MULTICAST_IF,
                                         &options.interface, sizeof options.interface) != 0) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &options.interface, text, sizeof text);
    Failure(ErrnoMessage(std::string("cannot send from interface ") + text, errno));
  }
}

void WriteHex(const uint8_t* datagram, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string line(2 * length + 1, '\n');
  for (size_t i = 0; i < length; ++i) {
    line[2 * i] = kDigits[datagram[i] >> 4];
    line[2 * i + 1] = kDigits[datagram[i] & 15];
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
}

bool StopRequested(const sigset_t& stopSignals) {
  const timespec now{0, 0};
  return sigtimedwait(&stopSignals, nullptr, &now) > 0;
}

// One round: every object, each object's packets back to back. Returns false when a stop
// signal arrived in between.
bool SendAll(const std::vector<TObject>& objects, const std::vector<TInfocastPacketizer>& packers,
             const TOptions& options, const TUniqueFd* socket, const sigset_t* stopSignals) {
  for (size_t i = 0; i < objects.size(); ++i) {
    if (stopSignals && StopRequested(*stopSignals)) {
      return false;
    }
    const std::string& data = objects[i].data;
    packers[i].Packetize(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                         [&](const uint8_t* datagram, size_t length) {
                           if (options.dump) {
                             WriteHex(datagram, length);
                             return;
                           }
                           if (sendto(socket->Get(), datagram, length, 0,
                                      reinterpret_cast<const sockaddr*>(&options.destination),
                                      sizeof options.destination) < 0) {
                             Failure(ErrnoMessage("cannot send '" + objects[i].name + "'", errno));
                           }
                         });
  }
  if (options.dump && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    Failure(ErrnoMessage("cannot write standard output", errno));
  }
  return true;
}

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Resends every repeatMs, counted from the start of each round, until SIGINT or SIGTERM.
// Both signals stay blocked and are taken with sigtimedwait, so one arriving mid-round ends
// the run after the object being sent and never cuts a datagram.
void RepeatUntilStopped(const std::vector<TObject>& objects,
                        const std::vector<TInfocastPacketizer>& packers, const TOptions& options,
                        const TUniqueFd* socket, const sigset_t& stopSignals) {
  for (;;) {
    const int64_t deadline = MonotonicMs() + static_cast<int64_t>(options.repeatMs);
    if (!SendAll(objects, packers, options, socket, &stopSignals)) {
      return;
    }
    for (int64_t left = deadline - MonotonicMs(); left > 0; left = deadline - MonotonicMs()) {
      const timespec wait{static_cast<time_t>(left / 1000),
                          static_cast<long>(left % 1000) * 1000000};
      if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
        return;
      }
    }
  }
}

void Warn(const TOptions& options) {
  if (options.precoding == TInfocastHeader::kPrecodingUnsupported) {
    std::fputs("infocast-send: warning: boxes refuse objects of precoding 0x0003\n", stderr);
  }
  if ((options.hasTimeFilter || options.hasTargetFilter) &&
      options.type != TInfocastHeader::kTypeInformationObject) {
    std::fputs("infocast-send: warning: boxes evaluate filters only for type 0x0001\n", stderr);
  }
  if (options.maxSize > kBoxReceiveBuffer) {
    std::fputs(
        "infocast-send: warning: boxes drop datagrams above 1600 bytes unless started "
        "with a larger buffer\n",
        stderr);
  }
}

int Run(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  // Checks --name, the filters and --max-size before any file is read.
  MakePacketizer(options, options.hasName ? options.name : std::string());
  Warn(options);
  const std::vector<TObject> objects = ReadObjects(options);
  std::vector<TInfocastPacketizer> packers;
  for (const TObject& object : objects) {
    try {
      packers.push_back(MakePacketizer(options, object.name));
    } catch (const TException& e) {
      Failure(e.GetText());
    }
  }

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (options.repeatMs > 0) {
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  }
  TUniqueFd socket;
  if (!options.dump) {
    socket = OpenSocket();
    SetUpSocket(socket, options);
  }
  if (options.repeatMs > 0) {
    RepeatUntilStopped(objects, packers, options, &socket, stopSignals);
  } else {
    SendAll(objects, packers, options, &socket, nullptr);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return tool::Main("infocast-send", kUsage, Run, argc, argv); }
