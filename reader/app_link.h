// Links inside pages come back to the reader as "fvxapp://" addresses:
//
//   address := ... "<" a ":" b ":" c ">" text      -- a, b, c decimal
//
// a says what to do: 0 show subject b at position c; 4 open text outside
// the reader; 5 apply the hex-coded filter expression text; 6 go to the
// children of subject b; 100 open a catalogue book. The browser may hand the
// address over percent-encoded; such escapes are undone first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fvx::reader {

enum class LinkKind : int {
  kShowSubject = 0,
  kOpenExternal = 4,
  kFilter = 5,
  kTreeChildren = 6,
  kCatalogueBook = 100,
};

struct AppLink {
  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t c = 0;
  std::string text;  // after ">"
  bool operator==(const AppLink&) const = default;
};

// nullopt unless "<", ":", ":" and ">" follow one another and the three
// fields between them are decimal numbers.
std::optional<AppLink> ParseAppLink(std::string_view url);

// "%3C" and the like back to bytes; malformed escapes stay as they are.
std::string DecodePercentEscapes(std::string_view text);

// Pairs of hexadecimal digits back to bytes; nullopt for anything else.
std::optional<std::string> HexDecode(std::string_view hex);

}  // namespace fvx::reader
