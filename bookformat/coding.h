// Byte coding of the book file: every integer is big-endian, doubles are
// IEEE-754 binary64 stored big-endian, and a stream position ("OFF") is
// stored in the book's offset width:
//
//   OFF (width 1) := u32                       -- the position itself
//   OFF (width 2) := u32 low-word  u32 high-word
//
// The wide form keeps two big-endian words with the LOW word first; it is
// not one big-endian 64-bit number. Handhelds read the narrow form word by
// word, and the wide form was added later without changing that habit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace fvx::format {

// The header's version byte doubles as the offset width.
enum class OffsetWidth : uint8_t {
  kNarrow = 1,  // 4-byte positions
  kWide = 2,    // 8-byte positions ("huge" books)
};

constexpr size_t OffsetBytes(OffsetWidth width) { return width == OffsetWidth::kWide ? 8 : 4; }

// The largest position the width can hold.
constexpr uint64_t OffsetLimit(OffsetWidth width) {
  return width == OffsetWidth::kWide ? UINT64_MAX : uint64_t{UINT32_MAX};
}

inline void StoreU16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
}

inline void StoreU32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

inline uint16_t LoadU16(const uint8_t* in) {
  return static_cast<uint16_t>((uint16_t{in[0]} << 8) | in[1]);
}

inline uint32_t LoadU32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

// REQUIRES: out holds OffsetBytes(width) bytes. A narrow width stores the low
// 32 bits; callers that must not lose the high half check OffsetLimit first.
inline void StoreOff(uint8_t* out, uint64_t value, OffsetWidth width) {
  StoreU32(out, static_cast<uint32_t>(value));
  if (width == OffsetWidth::kWide) StoreU32(out + 4, static_cast<uint32_t>(value >> 32));
}

inline uint64_t LoadOff(const uint8_t* in, OffsetWidth width) {
  uint64_t value = LoadU32(in);
  if (width == OffsetWidth::kWide) value |= uint64_t{LoadU32(in + 4)} << 32;
  return value;
}

inline void StoreDouble(uint8_t* out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  StoreU32(out, static_cast<uint32_t>(bits >> 32));
  StoreU32(out + 4, static_cast<uint32_t>(bits));
}

inline double LoadDouble(const uint8_t* in) {
  uint64_t bits = (uint64_t{LoadU32(in)} << 32) | LoadU32(in + 4);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Appending forms, for building small structures in memory.
void PutU8(std::string* out, uint8_t value);
void PutU16(std::string* out, uint16_t value);
void PutU32(std::string* out, uint32_t value);
void PutOff(std::string* out, uint64_t value, OffsetWidth width);
void PutDouble(std::string* out, double value);
// u32 length, then the bytes.
void PutString(std::string* out, std::string_view text);

// a + b, or false when the sum does not fit 64 bits. Positions read from a
// file pass through this before they are compared or used.
[[nodiscard]] inline bool AddChecked(uint64_t a, uint64_t b, uint64_t* sum) {
  return !__builtin_add_overflow(a, b, sum);
}
[[nodiscard]] inline bool MulChecked(uint64_t a, uint64_t b, uint64_t* product) {
  return !__builtin_mul_overflow(a, b, product);
}

}  // namespace fvx::format
