// The HTTP side of the server, on libmicrohttpd: a fixed pool of threads,
// each polling many connections (epoll), so 64 keep-alive clients need no
// 64 threads; a cap on open connections and an idle timeout per connection.
// Every request goes to one handler with the target exactly as sent (the
// handler does its own decoding, so that "%00" or "%2e%2e" are judged on
// what the client wrote).
//
// Call order: Start once; Stop (or the destructor) ends the threads after
// the requests in progress.
#pragma once

#include <cstdint>
#include <string>

#include "server/http_types.h"

struct MHD_Daemon;

namespace fvx::server {

struct ListenerOptions {
  std::string address = "127.0.0.1";  // IPv4 or IPv6 literal
  uint16_t port = 8080;                // 0: any free port (see port())
  unsigned threads = 2;
  unsigned connection_limit = 256;
  unsigned timeout_seconds = 30;  // a connection idle this long is closed
};

class HttpListener {
 public:
  HttpListener() = default;
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // REQUIRES: handler is safe to call from several threads at once.
  [[nodiscard]] bool Start(const ListenerOptions& options, HttpHandler handler, std::string* error);
  void Stop();
  uint16_t port() const { return port_; }

 private:
  HttpHandler handler_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};

}  // namespace fvx::server
