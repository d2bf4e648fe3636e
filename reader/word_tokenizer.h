// The local word index's tokenizer ("fvxwords"), registered on an SQLite
// connection so that the full-text tables cut text exactly as the search
// matcher and the book's own index do (bookformat/search_keys.h): the same
// separator table, A-Z folding only, and in stored subject text each element
// (0xFF, u32 big-endian length L, code byte, L payload bytes) is one
// separator whose payload is skipped.
//
//   tokenize='fvxwords elements'   subject texts
//   tokenize='fvxwords'            headings and queries (plain text)
//
// A word longer than kMaxIndexWord bytes is stored as its first
// kMaxIndexWord bytes followed by a NUL byte, so it never equals a shorter
// word; queries never hold NUL, so such words are found only through
// candidate narrowing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct sqlite3;

namespace fvx::reader {

inline constexpr size_t kMaxIndexWord = 200;

// REQUIRES: db is open. False when the connection has no full-text module.
[[nodiscard]] bool RegisterWordTokenizer(sqlite3* db);

// Calls word(std::string_view) with each index word of the text, folded and
// shortened as stored. with_elements: the text is stored subject text.
template <class Word>
void ForEachIndexWord(std::string_view text, bool with_elements, Word&& word);

}  // namespace fvx::reader

#include "reader/word_tokenizer_inl.h"
