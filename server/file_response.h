// A served file as HTTP answers it: validators (ETag, Last-Modified), 304
// for a copy the client already has, 412 when a resumed download's copy
// has changed (If-Match, If-Unmodified-Since), and one byte range for a
// download that resumes.
//
//   range := "bytes=" (first "-" [last] | "-" suffix)    -- one range only
//
// Several ranges, or a range that does not parse, get the whole file (as
// HTTP allows); a range past the end gets 416.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "server/http_types.h"

namespace fvx::server {

struct FileFacts {
  uint64_t size = 0;
  std::string etag;      // with its quotes
  time_t modified = 0;   // seconds
};

struct ByteRange {
  uint64_t first = 0;
  uint64_t length = 0;
};

// nullopt: the whole file; a range with length 0: unsatisfiable.
std::optional<ByteRange> ParseRange(std::string_view header, uint64_t size);

std::string HttpDate(time_t when);
std::optional<time_t> ParseHttpDate(std::string_view text);

// Decides status, headers and the part of the file to send. The body is
// left for the caller to attach (status 200 or 206 only).
HttpResponse FileResponse(const HttpRequest& request, const FileFacts& facts,
                          std::string content_type, ByteRange* part);

}  // namespace fvx::server
