#include "compiler/frontend/colour.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "compiler/frontend/char_class.h"

namespace fvx::compiler {
namespace {

struct NamedColour {
  const char* name;
  uint32_t value;
};

constexpr NamedColour kColours[] = {
#define FVX_COLOUR(name, value) {name, value},
#include "compiler/frontend/colour_names.def"
#undef FVX_COLOUR
};

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool FindColourName(std::string_view name, uint32_t& colour) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
  auto it = std::lower_bound(std::begin(kColours), std::end(kColours), folded,
                             [](const NamedColour& entry, const std::string& key) {
                               return std::string_view(entry.name) < key;
                             });
  if (it == std::end(kColours) || folded != it->name) return false;
  colour = it->value;
  return true;
}

bool ParseColour(std::string_view text, uint32_t& colour) {
  size_t i = 0;
  while (i < text.size() && IsSourceSpace(static_cast<unsigned char>(text[i]))) ++i;
  std::string_view trimmed = text.substr(i);
  std::string_view digits = trimmed;
  if (!digits.empty() && digits[0] == '#') digits.remove_prefix(1);
  uint64_t value = 0;
  size_t count = 0;
  while (count < digits.size() && HexDigit(static_cast<unsigned char>(digits[count])) >= 0) {
    value = (value << 4) | static_cast<uint64_t>(HexDigit(static_cast<unsigned char>(digits[count])));
    if (value > 0xFFFFFFFFull) value &= 0xFFFFFFFFull;
    ++count;
  }
  if (count == 0 || count < digits.size()) return FindColourName(trimmed, colour);
  if (count == 2) value = value * 0x010101;
  colour = static_cast<uint32_t>(value & 0xFFFFFF);
  return true;
}

}  // namespace fvx::compiler
