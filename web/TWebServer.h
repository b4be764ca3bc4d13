// The HTTP side of infoservice-web, on libmicrohttpd: the page's embedded files, the JSON
// endpoints and the event streams. It holds the client and the event hub without owning them.
//
// libmicrohttpd runs one thread per connection (at most kMaxConnections), so an event stream
// may wait for its next event in its own thread and a slow browser holds only its own
// connection. Access:
//   - writing (PUT, DELETE) needs "Authorization: Bearer TOKEN" and is refused altogether
//     with --read-only;
//   - reading needs the token too unless the server listens on a loopback address;
//   - on a loopback address only loopback host names are accepted in the Host header, so a
//     foreign web site cannot reach the server by pointing a name of its own at 127.0.0.1;
//   - every response forbids scripts, styles and connections except the page's own.
// Bounds: request headers (kMaxHeaderBytes), bodies (kMaxBodyBytes), connections, streams (the
// hub's kMaxStreams), and a stream that makes no progress for kStalledStreamSeconds is closed.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "client/TInfoClient.h"
#include "web/TEventHub.h"

struct MHD_Daemon;
struct MHD_Connection;

struct TWebOptions {
  sockaddr_storage address{};
  bool loopback = true;
  std::string token;
  bool readOnly = false;
  // The daemon's write limit of the flash settings per 24 hours (its -w), shown on the page.
  unsigned int writeLimit = 10;
};

class TWebServer final {
 public:
  static constexpr size_t kMaxHeaderBytes = 32 * 1024;
  static constexpr size_t kMaxBodyBytes = 1024 * 1024;
  static constexpr unsigned int kMaxConnections = 64;
  static constexpr unsigned int kConnectionTimeoutSeconds = 30;
  static constexpr unsigned int kStalledStreamSeconds = 10;
  static constexpr int kStreamSendBufferBytes = 64 * 1024;

  TWebServer(const TWebOptions& options, infoservice::TInfoClient& client, TEventHub& hub);
  // Stops listening and ends every connection.
  ~TWebServer();
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  // Starts listening; false when the address cannot be bound.
  bool Start();
  // The port listened on (the one chosen by the system for port 0).
  unsigned int Port() const;

  // libmicrohttpd's callbacks, public only for the C trampolines in TWebServer.cpp.
  int HandleRequest(MHD_Connection* connection, const std::string& url, const std::string& method,
                    const char* uploadData, size_t* uploadSize, void** requestState);

 private:
  // Refusals that apply before a body is read; returns the queued result, or -1 to go on.
  int Refuse(MHD_Connection* connection, const std::string& url, const std::string& method);
  int Serve(MHD_Connection* connection, const std::string& url, const std::string& method,
            const std::string& body);
  int ServeFile(MHD_Connection* connection, const std::string& path);
  int ServeEvents(MHD_Connection* connection);
  int ServeWrite(MHD_Connection* connection, const std::string& name, const std::string& method,
                 const std::string& body);
  bool HasToken(MHD_Connection* connection) const;
  bool HostAllowed(MHD_Connection* connection) const;

  TWebOptions options_;
  infoservice::TInfoClient& client_;
  TEventHub& hub_;
  MHD_Daemon* daemon_ = nullptr;
};
