// Text as the server's own pages need it: escaped for HTML, XML and JSON,
// and moved between a book's character set and the UTF-8 of those pages.
#pragma once

#include <string>
#include <string_view>

namespace fvx::server {

// For HTML text and attribute values (also right for XML).
std::string HtmlEscape(std::string_view text);
// The inside of a JSON string; the text must already be UTF-8.
std::string JsonEscape(std::string_view text);

// A book's bytes as UTF-8. "utf-8" passes through (invalid sequences become
// U+FFFD); other sets go through iconv, and an unknown set is read as
// windows-1252, the set books have when they name none.
std::string ToUtf8(std::string_view bytes, std::string_view charset);
// Typed UTF-8 text in a book's set, for lookups and searches; characters the
// set lacks are dropped.
std::string FromUtf8(std::string_view text, std::string_view charset);

}  // namespace fvx::server
