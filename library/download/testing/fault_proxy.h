// A small HTTP proxy on 127.0.0.1 that stands between the engine and nginx
// and misbehaves on demand: it cuts a response after N body bytes, strips the
// Range header (a server that cannot resume), or answers by itself with a
// canned response (404, a wrong Content-Range, a body longer than announced).
// Every request is answered on its own connection ("Connection: close").
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fvx::library::testing {

struct FaultAction {
  enum class Kind { kForward, kCutAfter, kStripRange, kCanned };
  Kind kind = Kind::kForward;
  size_t cutAfter = 0;  // body bytes passed on before the connection is dropped
  std::string canned;   // the whole response, for kCanned

  static FaultAction Forward() { return {}; }
  static FaultAction CutAfter(size_t bytes) { return {Kind::kCutAfter, bytes, {}}; }
  static FaultAction StripRange() { return {Kind::kStripRange, 0, {}}; }
  static FaultAction Canned(std::string response) {
    return {Kind::kCanned, 0, std::move(response)};
  }
};

class FaultProxy {
 public:
  // index counts requests from 0; head is the request as received.
  using Policy = std::function<FaultAction(int index, const std::string& head)>;

  FaultProxy(int upstream_port, Policy policy);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string Url(const std::string& name) const;
  // The request heads received so far, in order.
  std::vector<std::string> Requests() const;

 private:
  void AcceptLoop();
  void Serve(int client);

  int upstream_port_;
  Policy policy_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<std::string> requests_;
};

// "Header: value" of a request or response head, or "" (name without case).
std::string HeaderValue(const std::string& head, const std::string& name);

}  // namespace fvx::library::testing
