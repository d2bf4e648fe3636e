// Character classes and key splitting shared by the compiler's search index
// and the reader's search, so that both cut text into the same words and
// keys. One fixed table, independent of the locale:
//
//   separator  0xFF; below 0x80 the bytes that C's isspace or ispunct accept
//              in the "C" locale (tab..CR, space, !"#$%&'()*+,-./:;<=>?@[\]^_`{|}~);
//              and 0xE0-0xE6, 0xE8-0xEE, 0xFC, 0xFD
//   word       every other byte (control bytes and NUL included)
//
// Case folding changes only A-Z.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fvx::format {

inline constexpr size_t kSearchKeyLength = 3;

namespace internal {

constexpr std::array<bool, 256> MakeSeparatorTable() {
  std::array<bool, 256> table{};
  for (int c = 0x09; c <= 0x0D; ++c) table[c] = true;  // isspace
  table[0x20] = true;
  for (int c = 0x21; c <= 0x2F; ++c) table[c] = true;  // ispunct
  for (int c = 0x3A; c <= 0x40; ++c) table[c] = true;
  for (int c = 0x5B; c <= 0x60; ++c) table[c] = true;
  for (int c = 0x7B; c <= 0x7E; ++c) table[c] = true;
  for (int c = 0xE0; c <= 0xE6; ++c) table[c] = true;
  for (int c = 0xE8; c <= 0xEE; ++c) table[c] = true;
  table[0xFC] = true;
  table[0xFD] = true;
  table[0xFF] = true;
  return table;
}

inline constexpr std::array<bool, 256> kSeparators = MakeSeparatorTable();

}  // namespace internal

constexpr bool IsSeparator(uint8_t byte) { return internal::kSeparators[byte]; }
constexpr bool IsWordByte(uint8_t byte) { return !internal::kSeparators[byte]; }

constexpr uint8_t FoldCase(uint8_t byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<uint8_t>(byte + ('a' - 'A')) : byte;
}

// A key of up to 16 bytes, zero padded; only the first length bytes count.
using SearchKey = std::array<uint8_t, 16>;

// Calls emit(const uint8_t* key) with each key of a run of word bytes, key
// length bytes each: a run shorter than key_length is one key, zero padded;
// otherwise every window of key_length bytes. Keys are case-folded (A-Z).
// REQUIRES: 1 <= key_length <= 16; word holds word bytes only.
template <class Emit>
void ForEachKey(std::string_view word, size_t key_length, Emit&& emit) {
  SearchKey key{};
  const auto* bytes = reinterpret_cast<const uint8_t*>(word.data());
  if (word.empty()) return;
  if (word.size() < key_length) {
    for (size_t i = 0; i < word.size(); ++i) key[i] = FoldCase(bytes[i]);
    emit(static_cast<const uint8_t*>(key.data()));
    return;
  }
  for (size_t start = 0; start + key_length <= word.size(); ++start) {
    for (size_t i = 0; i < key_length; ++i) key[i] = FoldCase(bytes[start + i]);
    emit(static_cast<const uint8_t*>(key.data()));
  }
}

// Calls word(std::string_view) for each maximal run of word bytes of plain
// text (text without elements; a caller walking stored subject text skips
// each element itself, since its payload is not text).
template <class Word>
void ForEachWord(std::string_view text, Word&& word) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(static_cast<uint8_t>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && IsWordByte(static_cast<uint8_t>(text[i]))) ++i;
    if (i > start) word(text.substr(start, i - start));
  }
}

// The keys as 32-bit numbers for K = 3 (first byte highest), which sort like
// the zero-padded keys themselves.
constexpr uint32_t PackKey3(const uint8_t* key) {
  return (uint32_t{key[0]} << 16) | (uint32_t{key[1]} << 8) | key[2];
}

}  // namespace fvx::format
