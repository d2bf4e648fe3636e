// The word walk behind the tokenizer (included by word_tokenizer.h).
#pragma once

#include <cstdint>

#include "bookformat/search_keys.h"
#include "reader/element_html.h"

namespace fvx::reader {

template <class Word>
void ForEachIndexWord(std::string_view text, bool with_elements, Word&& word) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const size_t size = text.size();
  std::string folded;
  size_t i = 0;
  auto flush = [&] {
    if (folded.empty()) return;
    if (folded.size() > kMaxIndexWord) {
      folded.resize(kMaxIndexWord);
      folded.push_back('\0');
    }
    word(std::string_view(folded));
    folded.clear();
  };
  while (i < size) {
    const uint8_t byte = bytes[i];
    if (with_elements && byte == kElementEscape) {
      flush();
      // The matcher's framing: four length bytes, the code byte, the payload.
      uint64_t length = 0;
      for (size_t k = 1; k <= 4 && i + k < size; ++k) length = (length << 8) | bytes[i + k];
      const uint64_t skip = 6 + length;
      i = skip >= size - i ? size : i + static_cast<size_t>(skip);
      continue;
    }
    ++i;
    if (format::IsSeparator(byte)) {
      flush();
    } else if (folded.size() <= kMaxIndexWord) {
      folded.push_back(static_cast<char>(format::FoldCase(byte)));
    }
  }
  flush();
}

}  // namespace fvx::reader
