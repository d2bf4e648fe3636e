// Turns a subject's recorded text (as the front end wrote it to the text
// spill file) into the stored text a book carries:
//
//   recorded := (char | relement)*     char := 0x00..0xFE
//   relement := 0xFF u32le:L u8:code payload[L]     -- numbers little-endian,
//                                                      links and pictures by record id
//   stored   := (char | element)*
//   element  := 0xFF u32be:L u8:code payload[L]     -- numbers big-endian,
//                                                      links and pictures resolved
//
// Each code's fixed payload fields are listed in a table (kElementLayouts in
// the .cpp) and converted field by field; the bytes after them (name/value
// pairs passed through from the tag) are copied unchanged, so every stored
// element keeps its recorded length and the stored text the recorded text's
// length. Code 2 (link end) is always stored with length 0 (bytes recorded
// as its payload follow it as text), and as code 3 when the link it closes
// could not be resolved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fvx::compiler {

inline constexpr uint8_t kElementEscape = 0xFF;
inline constexpr uint8_t kCodeLinkStart = 1;
inline constexpr uint8_t kCodeLinkEnd = 2;
inline constexpr uint8_t kCodeUnresolvedLink = 3;
inline constexpr uint8_t kCodePicture = 22;
inline constexpr uint32_t kNoPicture = 0xFFFFFFFF;

struct ResolvedLink {
  bool resolved = false;
  uint32_t subject = 0;          // stored index
  uint32_t anchor_position = 0;  // byte offset in the target's stored text, 0 for its top
};

// What the encoder asks about the references it meets.
class ElementResolver {
 public:
  virtual ~ElementResolver() = default;
  // False when the lookup itself failed (the stage then fails); an unknown
  // target is a success with link->resolved false.
  [[nodiscard]] virtual bool ResolveLink(uint32_t link_record, ResolvedLink* link) = 0;
  // The picture index of a picture record, kNoPicture when it has none.
  virtual uint32_t PictureIndex(uint32_t picture_record) = 0;
};

// Appends the stored form of one subject's recorded text to *stored.
// False when the recorded text is cut inside an element, or a link lookup
// fails. REQUIRES: characters are one byte (the only mode books use).
[[nodiscard]] bool EncodeSubjectText(const uint8_t* recorded, size_t length,
                                     ElementResolver& resolver, std::string* stored);

}  // namespace fvx::compiler
