#include "compiler/backend/subject_text_encoder.h"

#include <array>
#include <cstring>
#include <vector>

#include "bookformat/coding.h"

namespace fvx::compiler {
namespace {

enum class Field : uint8_t {
  kEnd,         // no more fixed fields
  kChar,        // one character, copied
  kU32,         // little-endian in, big-endian out
  kCString,     // characters up to and including a NUL
  kListFlags,   // "li": a flags character, then u32 when bit 0, a character when bit 1
  kPictureRef,  // picture record id in, picture index out
};

struct ElementLayout {
  uint8_t code;
  std::array<Field, 5> fields;
};

// The fixed payload fields of each code whose payload carries numbers or
// strings. Codes not listed keep their payload bytes as they are.
constexpr ElementLayout kElementLayouts[] = {
    {15, {Field::kChar}},                                        // ul: type
    {17, {Field::kChar, Field::kU32}},                           // ol: type, start
    {19, {Field::kListFlags}},                                   // li
    {20, {Field::kU32, Field::kU32, Field::kCString}},           // font: size, colour, face
    {22, {Field::kPictureRef, Field::kU32, Field::kU32, Field::kU32, Field::kU32}},  // img
    {31, {Field::kU32}},                                         // numeric entity
    {34, {Field::kCString}},                                     // external link target
};

constexpr std::array<const ElementLayout*, 256> MakeLayoutIndex() {
  std::array<const ElementLayout*, 256> index{};
  for (const ElementLayout& layout : kElementLayouts) index[layout.code] = &layout;
  return index;
}

constexpr std::array<const ElementLayout*, 256> kLayoutOf = MakeLayoutIndex();

uint32_t LoadLe32(const uint8_t* in) {
  return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
         (uint32_t{in[3]} << 24);
}

void PutHeader(std::string* out, uint32_t length, uint8_t code) {
  out->push_back(static_cast<char>(kElementEscape));
  format::PutU32(out, length);
  out->push_back(static_cast<char>(code));
}

void PutBytes(std::string* out, const uint8_t* bytes, size_t count) {
  out->append(reinterpret_cast<const char*>(bytes), count);
}

class Encoder {
 public:
  Encoder(ElementResolver& resolver, std::string* out) : resolver_(resolver), out_(out) {}

  bool Run(const uint8_t* text, size_t length) {
    size_t i = 0;
    while (i < length) {
      // Characters run up to the next escape.
      const void* escape = std::memchr(text + i, kElementEscape, length - i);
      const size_t stop = escape ? static_cast<size_t>(static_cast<const uint8_t*>(escape) - text)
                                 : length;
      PutBytes(out_, text + i, stop - i);
      i = stop;
      if (i == length) break;
      if (length - i < 6) return false;  // cut element header
      const uint32_t payload_length = LoadLe32(text + i + 1);
      const uint8_t code = text[i + 5];
      if (payload_length > length - i - 6) return false;  // cut payload
      if (!Element(code, text + i + 6, payload_length)) return false;
      // A link end carries nothing: bytes recorded after it stay text, so
      // the stored text keeps the recorded length (and anchors their place).
      i += 6 + (code == kCodeLinkEnd ? 0 : size_t{payload_length});
    }
    return true;
  }

 private:
  bool Element(uint8_t code, const uint8_t* payload, uint32_t length) {
    switch (code) {
      case kCodeLinkStart:
        return LinkStart(payload, length);
      case kCodeLinkEnd: {
        bool unresolved = false;
        if (!open_links_.empty()) {
          unresolved = open_links_.back();
          open_links_.pop_back();
        }
        PutHeader(out_, 0, unresolved ? kCodeUnresolvedLink : kCodeLinkEnd);
        return true;
      }
      default:
        break;
    }
    PutHeader(out_, length, code);
    size_t used = 0;
    if (const ElementLayout* layout = kLayoutOf[code]) used = Fields(*layout, payload, length);
    PutBytes(out_, payload + used, length - used);
    return true;
  }

  bool LinkStart(const uint8_t* payload, uint32_t length) {
    ResolvedLink link;
    if (length >= 4 && !resolver_.ResolveLink(LoadLe32(payload), &link)) return false;
    open_links_.push_back(!link.resolved);
    PutHeader(out_, length, link.resolved ? kCodeLinkStart : kCodeUnresolvedLink);
    uint8_t fixed[8] = {};
    if (link.resolved) {
      format::StoreU32(fixed, link.subject);
      format::StoreU32(fixed + 4, link.anchor_position);
    }
    const size_t used = length < 8 ? length : 8;
    PutBytes(out_, fixed, used);
    PutBytes(out_, payload + used, length - used);
    return true;
  }

  // Converts the layout's fields that fit the payload; returns the bytes used.
  size_t Fields(const ElementLayout& layout, const uint8_t* payload, uint32_t length) {
    size_t at = 0;
    auto u32 = [&](bool picture) {
      if (length - at < 4) return false;
      uint32_t value = LoadLe32(payload + at);
      if (picture) value = resolver_.PictureIndex(value);
      format::PutU32(out_, value);
      at += 4;
      return true;
    };
    auto character = [&] {
      if (length - at < 1) return false;
      out_->push_back(static_cast<char>(payload[at++]));
      return true;
    };
    for (Field field : layout.fields) {
      switch (field) {
        case Field::kEnd:
          return at;
        case Field::kChar:
          if (!character()) return at;
          break;
        case Field::kU32:
          if (!u32(false)) return at;
          break;
        case Field::kPictureRef:
          if (!u32(true)) return at;
          break;
        case Field::kCString: {
          const void* nul = std::memchr(payload + at, 0, length - at);
          const size_t end = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - payload) + 1
                                 : length;
          PutBytes(out_, payload + at, end - at);
          at = end;
          break;
        }
        case Field::kListFlags: {
          if (length - at < 1) return at;
          const uint8_t flags = payload[at];
          if (!character()) return at;
          if ((flags & 0x1) && !u32(false)) return at;
          if ((flags & 0x2) && !character()) return at;
          break;
        }
      }
    }
    return at;
  }

  ElementResolver& resolver_;
  std::string* out_;
  std::vector<bool> open_links_;  // per open link: unresolved
};

}  // namespace

bool EncodeSubjectText(const uint8_t* recorded, size_t length, ElementResolver& resolver,
                       std::string* stored) {
  Encoder encoder(resolver, stored);
  return encoder.Run(recorded, length);
}

}  // namespace fvx::compiler
