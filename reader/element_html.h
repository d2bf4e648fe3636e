// Elements of a stored subject text and the HTML each one writes.
//
//   text     := (character | element)*        -- character: one byte 0x00..0xFE
//   element  := 0xFF u32:L u8:code payload     -- payload is L bytes; 6 + L in all
//   payload  := fixed fields (by code, numbers big-endian) pairs
//   pairs    := (name NUL value NUL)*          -- attributes passed through
//
// Most elements write an opening fragment, their attribute pairs (" name",
// then '="value"' when the value is not empty) and ">". Every formatted
// fragment must fit 511 characters or it is dropped; when the element's
// own opening fragment is dropped, or it has none because its text is
// empty, the element writes nothing at all, so no stray attributes or ">"
// reach the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fvx::reader {

inline constexpr uint8_t kElementEscape = 0xFF;
inline constexpr size_t kElementHeaderSize = 6;
inline constexpr size_t kMaxFragmentLength = 511;

namespace element {
inline constexpr uint8_t kLinkStart = 1;
inline constexpr uint8_t kLinkEnd = 2;
inline constexpr uint8_t kUnresolvedLink = 3;
inline constexpr uint8_t kFont = 20;
inline constexpr uint8_t kPicture = 22;
inline constexpr uint8_t kUnknownTag = 23;
inline constexpr uint8_t kUnknownClosingTag = 24;
inline constexpr uint8_t kPreOpen = 25;
inline constexpr uint8_t kPreClose = 26;
inline constexpr uint8_t kCharacterCode = 31;
inline constexpr uint8_t kEntityName = 32;
inline constexpr uint8_t kExternalLink = 34;
inline constexpr uint8_t kFilterLink = 35;
inline constexpr uint8_t kLiteral255 = 255;
}  // namespace element

struct ElementView {
  uint8_t code = 0;
  std::string_view payload;
  size_t size = 0;  // bytes in the stored text, header included
};

// The element at text[position] (which holds 0xFF), or nullopt when the
// text ends before the element does.
std::optional<ElementView> ReadElement(std::string_view text, size_t position);

// What an element needs from the page being built.
class ElementPictures {
 public:
  virtual ~ElementPictures() = default;
  // The file the page shows the picture from, or nullopt when none could be
  // named (the picture is absent, or there is no temporary folder).
  virtual std::optional<std::string> PicturePath(uint32_t picture) = 0;
};

// Appends the element's HTML. pictures may be null (then no picture has a file).
void AppendElementHtml(const ElementView& element, ElementPictures* pictures, std::string* out);

// The entity elements count as one visible character each (a non-breaking
// space does not).
bool ElementCountsAsCharacter(uint8_t code);

// Two upper-case hexadecimal digits per byte, as filter links carry their text.
std::string HexEncode(std::string_view bytes);

}  // namespace fvx::reader
