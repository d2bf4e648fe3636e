// Character classes of the source language, fixed so that a compile never
// depends on the machine's locale.
//
// Bytes below 0x80 follow the C locale: white space is TAB, LF, VT, FF, CR
// and space; punctuation is every printable character that is neither a
// letter, a digit nor a space. Bytes 0x80..0xFF are word characters: sources
// are written in single-byte code pages whose upper half holds letters, and
// treating them as letters keeps words like "Ganymède" whole.
#pragma once

#include <array>
#include <cstdint>

namespace fvx::compiler {

enum CharClassBits : uint8_t {
  kCharSpace = 1,
  kCharPunct = 2,
};

inline constexpr std::array<uint8_t, 256> kCharClasses = [] {
  std::array<uint8_t, 256> classes{};
  for (int c = 0x09; c <= 0x0D; ++c) classes[c] = kCharSpace;
  classes[0x20] = kCharSpace;
  for (int c = 0x21; c <= 0x7E; ++c) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) classes[c] = kCharPunct;
  }
  return classes;
}();

inline bool IsSourceSpace(unsigned char c) { return (kCharClasses[c] & kCharSpace) != 0; }
inline bool IsSourcePunct(unsigned char c) { return (kCharClasses[c] & kCharPunct) != 0; }

// A-Z onto a-z; nothing else is folded.
inline unsigned char FoldAsciiCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

}  // namespace fvx::compiler
