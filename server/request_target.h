// A request target ("/b/atlas/s/12?at=40") taken apart into decoded path
// segments and query parameters, refusing what no served page can mean:
//
//   target  := "/" segment ("/" segment)* ["/"] ["?" query]
//   segment := (unreserved | "%" hex hex)+     -- decoded, never "." or ".."
//   query   := pair ("&" pair)*;  pair := name ["=" value]   -- "+" is a space
//
// Nothing decoded may hold a NUL, another control character, "/" or "\"
// inside a segment; the whole target and each value have length caps. URLs
// never name files: segments only pick entries of in-memory tables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fvx::server {

inline constexpr size_t kMaxTargetLength = 4096;
inline constexpr size_t kMaxValueLength = 1024;
inline constexpr size_t kMaxParameters = 32;

struct RequestTarget {
  std::vector<std::string> segments;  // decoded; "/" alone gives none
  bool trailing_slash = false;
  std::vector<std::pair<std::string, std::string>> query;

  // The first value of a parameter.
  std::optional<std::string_view> Param(std::string_view name) const;
};

// False (a bad request) for a malformed or over-long target.
[[nodiscard]] bool ParseTarget(std::string_view raw, RequestTarget* out);

// "%41" to "A" (and "+" to " " when plus_is_space); nullopt for a broken
// escape or a decoded NUL or other control character.
std::optional<std::string> DecodeComponent(std::string_view text, bool plus_is_space);

// Plain decimal digits (no sign, no spaces) up to max; nullopt otherwise,
// also for an empty text or one that would overflow.
std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max);
std::optional<uint32_t> ParseUint32(std::string_view text);

// Percent-encodes everything but unreserved characters, for query values
// and path segments the server writes into its own links.
std::string EncodeComponent(std::string_view text);

}  // namespace fvx::server
