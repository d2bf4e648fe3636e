#include "server/http_listener.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

namespace fvx::server {
namespace {

// Per request: the target as the client sent it (MHD hands the access
// handler an already unescaped path).
struct RequestState {
  std::string raw_target;
  bool headers_seen = false;
};

void* KeepRawTarget(void* /*cls*/, const char* uri, MHD_Connection* /*connection*/) {
  return new RequestState{uri != nullptr ? uri : "", false};  // freed in RequestDone
}

void RequestDone(void* /*cls*/, MHD_Connection* /*connection*/, void** state,
                 MHD_RequestTerminationCode /*code*/) {
  std::unique_ptr<RequestState> owned(static_cast<RequestState*>(*state));
  *state = nullptr;
}

struct FileReader {
  std::shared_ptr<const void> holder;
  int descriptor;
  uint64_t offset;
  uint64_t length;
};

ssize_t ReadFilePart(void* cls, uint64_t position, char* buffer, size_t max) {
  auto* reader = static_cast<FileReader*>(cls);
  if (position >= reader->length) return MHD_CONTENT_READER_END_OF_STREAM;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(max, reader->length - position));
  const ssize_t got = ::pread(reader->descriptor, buffer, count,
                              static_cast<off_t>(reader->offset + position));
  return got > 0 ? got : MHD_CONTENT_READER_END_WITH_ERROR;
}

void FreeFileReader(void* cls) { std::unique_ptr<FileReader> owned(static_cast<FileReader*>(cls)); }

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* /*url*/, const char* method,
                  const char* /*version*/, const char* /*upload_data*/, size_t* upload_size,
                  void** state) {
  auto* handler = static_cast<HttpHandler*>(cls);
  auto* request_state = static_cast<RequestState*>(*state);
  // The first call comes with the headers alone; answering only on the
  // call after the (empty) body lets MHD keep the connection alive.
  if (request_state != nullptr && !request_state->headers_seen) {
    request_state->headers_seen = true;
    return MHD_YES;
  }
  if (*upload_size != 0) {
    *upload_size = 0;  // a body is never wanted: drop it
    return MHD_YES;
  }
  HttpRequest request;
  request.method = method;
  request.target = request_state != nullptr ? request_state->raw_target : "/";
  request.header = [connection](std::string_view name) -> std::optional<std::string> {
    const std::string key(name);
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, key.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  HttpResponse answer = (*handler)(request);
  MHD_Response* response = nullptr;
  if (answer.file) {
    auto* reader = new FileReader{answer.file->holder, answer.file->descriptor,
                                  answer.file->offset, answer.file->length};
    response = MHD_create_response_from_callback(answer.file->length, 64 * 1024, ReadFilePart,
                                                 reader, FreeFileReader);
    if (response == nullptr) FreeFileReader(reader);
  } else {
    response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                               MHD_RESPMEM_MUST_COPY);
  }
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.content_type.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  for (const auto& [name, value] : answer.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

void LogNothing(void* /*cls*/, const char* /*format*/, va_list /*arguments*/) {}

}  // namespace

HttpListener::~HttpListener() { Stop(); }

bool HttpListener::Start(const ListenerOptions& options, HttpHandler handler, std::string* error) {
  Stop();
  handler_ = std::move(handler);
  sockaddr_in address4 = {};
  sockaddr_in6 address6 = {};
  const sockaddr* address = nullptr;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
  if (inet_pton(AF_INET, options.address.c_str(), &address4.sin_addr) == 1) {
    address4.sin_family = AF_INET;
    address4.sin_port = htons(options.port);
    address = reinterpret_cast<const sockaddr*>(&address4);
  } else if (inet_pton(AF_INET6, options.address.c_str(), &address6.sin6_addr) == 1) {
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(options.port);
    address = reinterpret_cast<const sockaddr*>(&address6);
    flags |= MHD_USE_IPv6;
  } else {
    *error = "not an IP address: " + options.address;
    return false;
  }
  daemon_ = MHD_start_daemon(
      flags, options.port, nullptr, nullptr, &Answer, &handler_,
      MHD_OPTION_SOCK_ADDR, address,
      MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::max(options.threads, 1u)),
      // The pool shares the cap out among its threads: each needs one.
      MHD_OPTION_CONNECTION_LIMIT, std::max(options.connection_limit, std::max(options.threads, 1u)),
      MHD_OPTION_CONNECTION_TIMEOUT, options.timeout_seconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(64 * 1024),
      MHD_OPTION_LISTEN_BACKLOG_SIZE, 256u,
      MHD_OPTION_URI_LOG_CALLBACK, &KeepRawTarget, nullptr,
      MHD_OPTION_NOTIFY_COMPLETED, &RequestDone, nullptr,
      MHD_OPTION_EXTERNAL_LOGGER, &LogNothing, nullptr,
      MHD_OPTION_END);
  if (daemon_ == nullptr) {
    *error = "cannot listen on " + options.address + " port " + std::to_string(options.port) +
             " (in use, or not allowed)";
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : options.port;
  return true;
}

void HttpListener::Stop() {
  if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

}  // namespace fvx::server
