#include "web/TWebServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>

#include <cstring>
#include <map>
#include <memory>

#include "client/JsonText.h"
#include "web/PageFiles.h"

using infoservice::TInfoClient;
using infoservice::TInfoError;

namespace {

constexpr const char* kObjectsPath = "/api/objects";
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr std::chrono::milliseconds kKeepAlive(5000);
constexpr const char kKeepAliveText[] = ": keep-alive\n\n";
// The page runs its own script and styles only, talks to this server only, and may not be
// framed; data can never turn into code, even if a value were put into the page as markup.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string ErrorJson(int code, const std::string& text) {
  return "{\"error\":" + std::to_string(code) + ",\"text\":" + JsonString(text) + "}";
}

// The HTTP status of a refusal of the daemon; the daemon's own code travels in the body.
unsigned int StatusOf(const TInfoError& error) {
  switch (error.GetCode()) {
    case 201:
      return MHD_HTTP_BAD_REQUEST;
    case 202:
      return MHD_HTTP_INSUFFICIENT_STORAGE;
    case TInfoError::kUnreachable:
      return MHD_HTTP_BAD_GATEWAY;
    default:
      return MHD_HTTP_INTERNAL_SERVER_ERROR;
  }
}

void AddCommonHeaders(MHD_Response* response) {
  MHD_add_response_header(response, "Content-Security-Policy", kContentSecurityPolicy);
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Cache-Control", "no-store");
}

int Send(MHD_Connection* connection, unsigned int status, const std::string& body,
         const char* type = kJson, const std::map<std::string, std::string>& headers = {}) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  AddCommonHeaders(response);
  if (!body.empty()) MHD_add_response_header(response, "Content-Type", type);
  for (const auto& [name, value] : headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  const int result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

int SendError(MHD_Connection* connection, unsigned int status, const std::string& text) {
  std::map<std::string, std::string> headers;
  if (status == MHD_HTTP_UNAUTHORIZED) headers["WWW-Authenticate"] = "Bearer";
  return Send(connection, status, ErrorJson(static_cast<int>(status), text), kJson, headers);
}

// Compares in time independent of where the texts differ, so that the token cannot be
// guessed byte by byte from response times.
bool SameText(const std::string& a, const std::string& b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return difference == 0;
}

const char* Header(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

const char* Argument(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
}

bool IsLoopbackHost(std::string host) {
  if (host.rfind("[::1]", 0) == 0) return host.size() == 5 || host[5] == ':';
  const size_t colon = host.find(':');
  if (colon != std::string::npos) host.resize(colon);
  if (host == "localhost") return true;
  in_addr address{};
  return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

// --- libmicrohttpd's C callbacks ---------------------------------------------------------------

MHD_Result OnRequest(void* server, MHD_Connection* connection, const char* url, const char* method,
                     const char* /*version*/, const char* uploadData, size_t* uploadSize,
                     void** requestState) {
  const int result = static_cast<TWebServer*>(server)->HandleRequest(
      connection, url, method, uploadData, uploadSize, requestState);
  return result == MHD_YES ? MHD_YES : MHD_NO;
}

// One open event stream, handed to libmicrohttpd as the content reader's state.
struct TStreamState {
  TEventHub* hub;
  std::shared_ptr<TEventStream> stream;
};

ssize_t ReadStream(void* state, uint64_t /*position*/, char* buffer, size_t max) {
  const long count = static_cast<TStreamState*>(state)->stream->Take(buffer, max, kKeepAlive);
  // Ended or dropped: a reader that still reads sees the stream end and reconnects.
  if (count < 0) return MHD_CONTENT_READER_END_OF_STREAM;
  if (count > 0) return count;
  // Nothing to say: a comment line keeps proxies and the stall timeout from closing the stream.
  const size_t length = std::min(max, sizeof kKeepAliveText - 1);
  std::memcpy(buffer, kKeepAliveText, length);
  return static_cast<ssize_t>(length);
}

void FreeStream(void* state) {
  auto* stream = static_cast<TStreamState*>(state);
  stream->hub->CloseStream(stream->stream);
  delete stream;
}

// A request's state: its body as it arrives (bounded by kMaxBodyBytes), and whether it has
// been answered, after which nothing it sends is acted on any more.
struct TRequestState {
  std::string body;
  bool answered = false;
};

void OnCompleted(void* /*server*/, MHD_Connection* /*connection*/, void** requestState,
                 MHD_RequestTerminationCode /*code*/) {
  delete static_cast<TRequestState*>(*requestState);
  *requestState = nullptr;
}

}  // namespace

TWebServer::TWebServer(const TWebOptions& options, TInfoClient& client, TEventHub& hub)
    : options_(options), client_(client), hub_(hub) {}

TWebServer::~TWebServer() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
}

bool TWebServer::Start() {
  // No MHD_USE_ERROR_LOG: its messages are about what clients send, and a client could fill
  // the log with them.
  unsigned int flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD;
  if (options_.address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, this, MHD_OPTION_SOCK_ADDR,
                             reinterpret_cast<const sockaddr*>(&options_.address),
                             MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                             MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
                             MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxHeaderBytes,
                             MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, this, MHD_OPTION_END);
  return daemon_ != nullptr;
}

unsigned int TWebServer::Port() const {
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  return info == nullptr ? 0 : info->port;
}

int TWebServer::HandleRequest(MHD_Connection* connection, const std::string& url,
                              const std::string& method, const char* uploadData, size_t* uploadSize,
                              void** requestState) {
  if (*requestState == nullptr) {
    // The headers are in: refuse what needs no body before reading one.
    auto* request = new TRequestState;
    *requestState = request;
    int result = Refuse(connection, url, method);
    if (result < 0 && method != "PUT") result = Serve(connection, url, method, std::string());
    request->answered = result >= 0;
    return result >= 0 ? result : MHD_YES;
  }
  auto* request = static_cast<TRequestState*>(*requestState);
  if (request->answered) {
    *uploadSize = 0;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    // A body without a length that grows past the bound: no answer can be queued in the
    // middle of a body, so the connection is closed, and the rest is never read.
    if (request->body.size() + *uploadSize > kMaxBodyBytes) return MHD_NO;
    request->body.append(uploadData, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  request->answered = true;
  return Serve(connection, url, method, request->body);
}

int TWebServer::Refuse(MHD_Connection* connection, const std::string& url,
                       const std::string& method) {
  if (options_.loopback && !HostAllowed(connection)) {
    return SendError(connection, MHD_HTTP_FORBIDDEN, "host name not allowed");
  }
  const bool api = url.rfind("/api/", 0) == 0;
  const bool write = method == "PUT" || method == "DELETE";
  if (write && url.rfind(std::string(kObjectsPath) + "/", 0) != 0) {
    return SendError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed");
  }
  if (!write && method != "GET" && method != "HEAD") {
    return SendError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed");
  }
  if (write && options_.readOnly) {
    return SendError(connection, MHD_HTTP_FORBIDDEN, "the server is read-only");
  }
  // The page's files and its settings hold no data of the daemon; everything else does.
  const bool needsToken = write || (api && url != "/api/config" && !options_.loopback);
  if (needsToken && !HasToken(connection)) {
    return SendError(connection, MHD_HTTP_UNAUTHORIZED, "missing or wrong access token");
  }
  if (method == "PUT") {
    const char* length = Header(connection, "Content-Length");
    if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes) {
      return SendError(connection, MHD_HTTP_CONTENT_TOO_LARGE, "request body too large");
    }
  }
  return -1;
}

int TWebServer::Serve(MHD_Connection* connection, const std::string& url, const std::string& method,
                      const std::string& body) {
  try {
    if (method == "PUT" || method == "DELETE") {
      return ServeWrite(connection, url.substr(std::strlen(kObjectsPath) + 1), method, body);
    }
    if (url == kObjectsPath) {
      const char* expression = Argument(connection, "expr");
      const auto objects = client_.Dump(expression == nullptr ? "*" : expression);
      return Send(connection, MHD_HTTP_OK, JsonObject(objects.begin(), objects.end()));
    }
    if (url == "/api/events") return ServeEvents(connection);
    if (url == "/api/stats") return Send(connection, MHD_HTTP_OK, hub_.HistoryJson());
    if (url == "/api/config") {
      return Send(connection, MHD_HTTP_OK,
                  std::string("{\"readOnly\":") + (options_.readOnly ? "true" : "false") +
                      ",\"tokenForReading\":" + (options_.loopback ? "false" : "true") +
                      ",\"writeLimit\":" + std::to_string(options_.writeLimit) + "}");
    }
    return ServeFile(connection, url == "/" ? "/index.html" : url);
  } catch (const TInfoError& error) {
    return Send(connection, StatusOf(error), ErrorJson(error.GetCode(), error.GetText()));
  }
}

int TWebServer::ServeFile(MHD_Connection* connection, const std::string& path) {
  for (size_t i = 0; i < kPageFileCount; ++i) {
    const TPageFile& file = kPageFiles[i];
    if (path != file.path) continue;
    MHD_Response* response = MHD_create_response_from_buffer(
        file.size, const_cast<unsigned char*>(file.data), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response);
    MHD_add_response_header(response, "Content-Type", file.contentType);
    const int result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
  }
  return SendError(connection, MHD_HTTP_NOT_FOUND, "not found");
}

int TWebServer::ServeEvents(MHD_Connection* connection) {
  std::shared_ptr<TEventStream> stream = hub_.OpenStream();
  if (stream == nullptr) {
    return SendError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "too many event streams");
  }
  // A browser reconnects after this many milliseconds when the stream breaks.
  stream->Push("retry: 2000\n: open\n\n");
  auto* state = new TStreamState{&hub_, stream};
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &ReadStream, state, &FreeStream);
  if (response == nullptr) {
    FreeStream(state);
    return MHD_NO;
  }
  AddCommonHeaders(response);
  MHD_add_response_header(response, "Content-Type", "text/event-stream; charset=utf-8");
  // A reader that stops reading fills a small socket buffer soon, and the stall timeout ends it.
  MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, kStalledStreamSeconds);
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info != nullptr) {
    setsockopt(info->connect_fd, SOL_SOCKET, SO_SNDBUF, &kStreamSendBufferBytes,
               sizeof kStreamSendBufferBytes);
  }
  const int result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
}

int TWebServer::ServeWrite(MHD_Connection* connection, const std::string& name,
                           const std::string& method, const std::string& body) {
  const char* storage = Argument(connection, "storage");
  const std::string kind = storage == nullptr ? "permanent" : storage;
  if (kind != "permanent" && kind != "volatile") {
    return SendError(connection, MHD_HTTP_BAD_REQUEST, "storage must be permanent or volatile");
  }
  if (name.empty()) return SendError(connection, MHD_HTTP_BAD_REQUEST, "no object name");
  const auto type = kind == "volatile" ? TInfoClient::eVolatile : TInfoClient::ePermanent;
  if (method == "PUT") {
    client_.Set(name, body, type);
  } else {
    client_.Unset(name, type);
  }
  return Send(connection, MHD_HTTP_NO_CONTENT, std::string());
}

bool TWebServer::HasToken(MHD_Connection* connection) const {
  const char* header = Header(connection, "Authorization");
  constexpr const char kScheme[] = "Bearer ";
  if (header == nullptr || std::strncmp(header, kScheme, sizeof kScheme - 1) != 0) return false;
  return SameText(header + sizeof kScheme - 1, options_.token);
}

bool TWebServer::HostAllowed(MHD_Connection* connection) const {
  const char* host = Header(connection, "Host");
  return host == nullptr || IsLoopbackHost(host);
}
