// Book text is stored one byte a character in the book's character set: the
// header names it, or, when it names none, the headings tell: valid UTF-8
// with multi-byte sequences means UTF-8, anything else Windows-1252. The
// reader window and the book server decide it the same way, so one book
// never reads differently in the two.
#pragma once

#include <string>
#include <string_view>

namespace fvx::reader {

class BookDocument;

// Whether bytes are valid UTF-8 (no overlong forms, nothing past U+10FFFF);
// *has_multibyte is set when a sequence longer than one byte is seen.
bool LooksLikeUtf8(std::string_view bytes, bool* has_multibyte);

// "UTF-8" or "windows-1252" from a sample of the headings spread over the
// whole book (enough to see accented words, few enough to open a book of
// 177 000 subjects at once). The header's own name is not consulted.
std::string CharsetFromHeadings(BookDocument& document);

}  // namespace fvx::reader
