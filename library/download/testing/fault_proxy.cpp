#include "library/download/testing/fault_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace fvx::library::testing {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void SetTimeout(int fd) {
  timeval timeout{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Drops every line of the head whose name matches (case-insensitive).
std::string WithoutHeader(const std::string& head, const std::string& name) {
  std::string result;
  size_t start = 0;
  while (start < head.size()) {
    size_t end = head.find("\r\n", start);
    end = end == std::string::npos ? head.size() : end + 2;
    std::string line = head.substr(start, end - start);
    bool drop = line.size() > name.size() && line[name.size()] == ':' &&
                ::strncasecmp(line.c_str(), name.c_str(), name.size()) == 0;
    if (!drop) result += line;
    start = end;
  }
  return result;
}

}  // namespace

std::string HeaderValue(const std::string& head, const std::string& name) {
  size_t start = 0;
  while (start < head.size()) {
    size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        ::strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      size_t value = name.size() + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      return line.substr(value);
    }
    start = end + 2;
  }
  return {};
}

FaultProxy::FaultProxy(int upstream_port, Policy policy)
    : upstream_port_(upstream_port), policy_(std::move(policy)) {}

FaultProxy::~FaultProxy() {
  Stop();
}

std::string FaultProxy::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

std::vector<std::string> FaultProxy::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool FaultProxy::Start() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return false;
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    listener_ = -1;
    return false;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void FaultProxy::Stop() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

void FaultProxy::AcceptLoop() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, client] { Serve(client); });
  }
}

void FaultProxy::Serve(int client) {
  SetTimeout(client);
  std::string head;
  char buffer[16384];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    ssize_t got = ::recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) {
      ::close(client);
      return;
    }
    head.append(buffer, static_cast<size_t>(got));
  }
  head.resize(head.find("\r\n\r\n") + 2);  // keeps the last header line's CRLF
  FaultAction action;
  {
    std::lock_guard lock(mutex_);
    int index = static_cast<int>(requests_.size());
    requests_.push_back(head);
    action = policy_ ? policy_(index, head) : FaultAction::Forward();
  }
  if (action.kind == FaultAction::Kind::kCanned) {
    SendAll(client, action.canned.data(), action.canned.size());
    ::shutdown(client, SHUT_RDWR);
    ::close(client);
    return;
  }
  std::string upstream_head = WithoutHeader(head, "Connection");
  if (action.kind == FaultAction::Kind::kStripRange) {
    upstream_head = WithoutHeader(upstream_head, "Range");
  }
  upstream_head += "Connection: close\r\n\r\n";

  int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(upstream_port_);
  if (upstream < 0 ||
      ::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      !SendAll(upstream, upstream_head.data(), upstream_head.size())) {
    if (upstream >= 0) ::close(upstream);
    ::close(client);
    return;
  }
  SetTimeout(upstream);
  std::string response_head;
  bool in_body = false;
  size_t body_sent = 0;
  while (true) {
    ssize_t got = ::recv(upstream, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    std::string_view chunk(buffer, static_cast<size_t>(got));
    if (!in_body) {
      response_head.append(chunk);
      size_t end = response_head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      in_body = true;
      std::string body = response_head.substr(end + 4);
      response_head.resize(end + 4);
      if (!SendAll(client, response_head.data(), response_head.size())) break;
      chunk = body;
      // Fall through with the body bytes that came with the head.
      std::string copy(chunk);
      size_t allowed = copy.size();
      if (action.kind == FaultAction::Kind::kCutAfter) {
        allowed = std::min(allowed, action.cutAfter - std::min(action.cutAfter, body_sent));
      }
      if (!SendAll(client, copy.data(), allowed)) break;
      body_sent += allowed;
      if (allowed < copy.size()) break;
      continue;
    }
    size_t allowed = chunk.size();
    if (action.kind == FaultAction::Kind::kCutAfter) {
      allowed = std::min(allowed, action.cutAfter - std::min(action.cutAfter, body_sent));
    }
    if (!SendAll(client, chunk.data(), allowed)) break;
    body_sent += allowed;
    if (allowed < chunk.size()) break;
  }
  ::close(upstream);
  ::shutdown(client, SHUT_RDWR);
  ::close(client);
}

}  // namespace fvx::library::testing
