// infoservice-web: a diagnostics page of the information service in the browser, served over
// HTTP/1.1 by a client of the daemon (the library of client/TInfoClient.h), so the daemon
// itself stays as it is.
//
//   infoservice-web [-A ADDRESS | -i FILE] [--listen ADDRESS:PORT] [--token-file FILE]
//                   [--read-only] [--write-limit COUNT]
//
// The daemon is found as infoctl finds it (client/DaemonAddress.h). The server listens on
// 127.0.0.1:8480 unless --listen says otherwise ("[::1]:8480" for IPv6; port 0 lets the system
// choose). Writing needs the access token, printed at start or read from --token-file; on any
// address other than a loopback one, reading needs it too. --write-limit is the daemon's -w,
// which the page shows the flash write budget against.
//
// Prints "listening on http://ADDRESS:PORT/" and the token on standard output, then serves
// until SIGINT, SIGTERM or SIGHUP. Exit status: 0 after a signal, 2 for a usage error, a daemon
// that cannot be reached or an address that cannot be listened on.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/random.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "client/DaemonAddress.h"
#include "client/TInfoClient.h"
#include "web/TEventHub.h"
#include "web/TWebServer.h"

using infoservice::TInfoClient;
using infoservice::TInfoError;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr size_t kTokenBytes = 16;
constexpr size_t kMaxTokenFileBytes = 4096;

constexpr const char* kUsage =
    "Usage: infoservice-web [-A ADDRESS | -i FILE] [--listen ADDRESS:PORT] [--token-file FILE]\n"
    "                       [--read-only] [--write-limit COUNT]\n"
    "  --listen      where to serve the page (default 127.0.0.1:8480; [::1]:PORT for IPv6)\n"
    "  --token-file  read the access token from FILE instead of making one\n"
    "  --read-only   refuse every write\n"
    "  --write-limit the daemon's flash write limit per 24 hours (its -w; default 10)\n"
    "Writing needs 'Authorization: Bearer TOKEN'; off loopback, reading needs it too.\n";

struct TCommandLine {
  std::string address;
  std::string addressFile;
  std::string listen = "127.0.0.1:8480";
  std::string tokenFile;
  TWebOptions options;
  bool help = false;
};

// "A.B.C.D:PORT" or "[IPv6]:PORT" into options.address and options.loopback.
void ParseListen(const std::string& text, TWebOptions& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw std::invalid_argument("--listen needs ADDRESS:PORT");
  std::string host = text.substr(0, colon);
  const std::string portText = text.substr(colon + 1);
  char* end = nullptr;
  const unsigned long port = std::strtoul(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || port > 65535) {
    throw std::invalid_argument("bad port in --listen '" + text + "'");
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    auto* address = reinterpret_cast<sockaddr_in6*>(&options.address);
    address->sin6_family = AF_INET6;
    address->sin6_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address->sin6_addr) != 1) {
      throw std::invalid_argument("bad address in --listen '" + text + "'");
    }
    options.loopback = IN6_IS_ADDR_LOOPBACK(&address->sin6_addr);
    return;
  }
  auto* address = reinterpret_cast<sockaddr_in*>(&options.address);
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address->sin_addr) != 1) {
    throw std::invalid_argument("bad address in --listen '" + text + "' (dotted IPv4 or [IPv6])");
  }
  options.loopback = (ntohl(address->sin_addr.s_addr) >> 24) == 127;
}

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument("option " + option + " needs an argument");
      return argv[++i];
    };
    if (option == "-h" || option == "--help") {
      line.help = true;
    } else if (option == "-A") {
      line.address = value();
    } else if (option == "-i") {
      line.addressFile = value();
    } else if (option == "--listen") {
      line.listen = value();
    } else if (option == "--token-file") {
      line.tokenFile = value();
    } else if (option == "--read-only") {
      line.options.readOnly = true;
    } else if (option == "--write-limit") {
      const std::string text = value();
      char* end = nullptr;
      const unsigned long limit = std::strtoul(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || limit > 1000000) {
        throw std::invalid_argument("bad --write-limit '" + text + "'");
      }
      line.options.writeLimit = static_cast<unsigned int>(limit);
    } else {
      throw std::invalid_argument("unknown option '" + option + "'");
    }
  }
  ParseListen(line.listen, line.options);
  return line;
}

// The token from the file: its first line, which must be printable ASCII (it travels in a
// header) and not empty.
std::string ReadTokenFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) throw std::invalid_argument("cannot read token file '" + fileName + "'");
  std::string text(kMaxTokenFileBytes + 1, '\0');
  file.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  if (text.size() > kMaxTokenFileBytes) throw std::invalid_argument("token file too long");
  text = text.substr(0, text.find_first_of("\r\n"));
  for (const char c : text) {
    if (c <= ' ' || c > '~') throw std::invalid_argument("token file holds an unusable byte");
  }
  if (text.empty()) throw std::invalid_argument("token file '" + fileName + "' is empty");
  return text;
}

std::string NewToken() {
  unsigned char bytes[kTokenBytes];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    throw std::runtime_error("no random bytes for the token");
  }
  std::string token;
  for (const unsigned char byte : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    token += hex;
  }
  return token;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread starts, so that every thread inherits it and sigwait below is
  // the one place the signals arrive.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TCommandLine line;
  try {
    line = ParseCommandLine(argc, argv);
    if (line.help) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    line.options.token = line.tokenFile.empty() ? NewToken() : ReadTokenFile(line.tokenFile);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "infoservice-web: %s\n%s", e.what(), kUsage);
    return kExitUsage;
  }
  try {
    TInfoClient client(GivenDaemonAddress(line.address, line.addressFile));
    TEventHub hub(client);
    hub.Start();
    TWebServer server(line.options, client, hub);
    if (!server.Start()) {
      std::fprintf(stderr, "infoservice-web: cannot listen on %s\n", line.listen.c_str());
      return kExitUsage;
    }
    const std::string host = line.listen.substr(0, line.listen.rfind(':'));
    std::printf("listening on http://%s:%u/\n", host.c_str(), server.Port());
    if (line.tokenFile.empty()) {
      std::printf("token: %s\n", line.options.token.c_str());
    } else {
      std::printf("token: from %s\n", line.tokenFile.c_str());
    }
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    // Waiting streams return at once, so stopping the server does not wait for them.
    hub.EndStreams();
  } catch (const TInfoError& e) {
    std::fprintf(stderr, "infoservice-web: %s\n", e.GetText().c_str());
    return kExitUsage;
  }
  return kExitOk;
}
