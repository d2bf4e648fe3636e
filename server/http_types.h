// Requests and responses as the server's pages see them, apart from the
// HTTP library that carries them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fvx::server {

struct HttpRequest {
  std::string method;  // "GET", "HEAD", ...
  std::string target;  // as the client sent it: path and query, undecoded
  // Header lookup by name (any case); nullopt when absent.
  std::function<std::optional<std::string>(std::string_view name)> header;
};

// A body read from a file descriptor: [offset, offset + length). The holder
// keeps the descriptor open for as long as the response needs it.
struct FileBody {
  std::shared_ptr<const void> holder;
  int descriptor = -1;
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/html; charset=utf-8";
  std::string body;
  std::optional<FileBody> file;  // instead of body
  std::vector<std::pair<std::string, std::string>> headers;

  void AddHeader(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
  }
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

}  // namespace fvx::server
