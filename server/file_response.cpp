#include "server/file_response.h"

#include <cstdio>

#include "server/request_target.h"

namespace fvx::server {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Whether an If-(None-)Match list names the tag (or is "*"); If-Match
// compares strongly, so a weak tag never matches there.
bool TagListMatches(std::string_view list, std::string_view etag, bool strong = false) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    std::string_view item = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (item == "*") return true;
    if (item.substr(0, 2) == "W/") {
      if (strong) continue;
      item.remove_prefix(2);
    }
    if (item == etag) return true;
  }
  return false;
}

HttpResponse Precondition(HttpResponse response) {
  response.status = 412;
  response.content_type = "text/plain; charset=utf-8";
  response.body = "the file has changed\n";
  return response;
}

}  // namespace

std::optional<ByteRange> ParseRange(std::string_view header, uint64_t size) {
  header = Trim(header);
  if (header.substr(0, 6) != "bytes=") return std::nullopt;
  const std::string_view spec = Trim(header.substr(6));
  if (spec.find(',') != std::string_view::npos) return std::nullopt;
  const size_t dash = spec.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view left = Trim(spec.substr(0, dash));
  const std::string_view right = Trim(spec.substr(dash + 1));
  if (left.empty()) {
    const std::optional<uint64_t> suffix = ParseDecimal(right, UINT64_MAX);
    if (!suffix) return std::nullopt;
    if (*suffix == 0 || size == 0) return ByteRange{0, 0};
    const uint64_t length = std::min(*suffix, size);
    return ByteRange{size - length, length};
  }
  const std::optional<uint64_t> first = ParseDecimal(left, UINT64_MAX);
  if (!first) return std::nullopt;
  uint64_t last = size == 0 ? 0 : size - 1;
  if (!right.empty()) {
    const std::optional<uint64_t> given = ParseDecimal(right, UINT64_MAX);
    if (!given || *given < *first) return std::nullopt;
    last = std::min(*given, last);
  }
  if (*first >= size) return ByteRange{0, 0};
  return ByteRange{*first, last - *first + 1};
}

std::string HttpDate(time_t when) {
  struct tm parts;
  gmtime_r(&when, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::optional<time_t> ParseHttpDate(std::string_view text) {
  const std::string copy(Trim(text));
  struct tm parts = {};
  const char* end = strptime(copy.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return timegm(&parts);
}

HttpResponse FileResponse(const HttpRequest& request, const FileFacts& facts,
                          std::string content_type, ByteRange* part) {
  HttpResponse response;
  response.content_type = std::move(content_type);
  response.AddHeader("ETag", facts.etag);
  response.AddHeader("Last-Modified", HttpDate(facts.modified));
  response.AddHeader("Accept-Ranges", "bytes");
  response.AddHeader("Cache-Control", "no-cache");
  const auto header = [&](std::string_view name) {
    return request.header ? request.header(name) : std::nullopt;
  };
  // A resumed download of a copy that has changed since: 412, so that the
  // client fetches the new version whole (what the download engine expects).
  if (const std::optional<std::string> tags = header("If-Match")) {
    if (!TagListMatches(*tags, facts.etag, true)) return Precondition(std::move(response));
  } else if (const std::optional<std::string> since = header("If-Unmodified-Since")) {
    const std::optional<time_t> when = ParseHttpDate(*since);
    if (when && facts.modified > *when) return Precondition(std::move(response));
  }
  // If-None-Match rules over If-Modified-Since when both are there.
  if (const std::optional<std::string> tags = header("If-None-Match")) {
    if (TagListMatches(*tags, facts.etag)) {
      response.status = 304;
      return response;
    }
  } else if (const std::optional<std::string> since = header("If-Modified-Since")) {
    const std::optional<time_t> when = ParseHttpDate(*since);
    if (when && facts.modified <= *when) {
      response.status = 304;
      return response;
    }
  }
  *part = ByteRange{0, facts.size};
  const std::optional<std::string> range = header("Range");
  if (!range) return response;
  // A resumed download of another version gets the whole new file.
  if (const std::optional<std::string> if_range = header("If-Range")) {
    const std::optional<time_t> when = ParseHttpDate(*if_range);
    const bool same = when ? facts.modified <= *when : Trim(*if_range) == facts.etag;
    if (!same) return response;
  }
  const std::optional<ByteRange> wanted = ParseRange(*range, facts.size);
  if (!wanted) return response;
  if (wanted->length == 0) {
    response.status = 416;
    response.content_type = "text/plain; charset=utf-8";
    response.AddHeader("Content-Range", "bytes */" + std::to_string(facts.size));
    response.body = "range not satisfiable\n";
    *part = ByteRange{0, 0};
    return response;
  }
  response.status = 206;
  response.AddHeader("Content-Range", "bytes " + std::to_string(wanted->first) + "-" +
                                          std::to_string(wanted->first + wanted->length - 1) +
                                          "/" + std::to_string(facts.size));
  *part = *wanted;
  return response;
}

}  // namespace fvx::server
