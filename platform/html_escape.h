#pragma once

// Text placed into HTML we write ourselves (reports, lists, messages): the
// characters that could open a tag, an entity or end an attribute value.

#include <string>
#include <string_view>

namespace fvx::platform {

inline void AppendHtmlEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

inline std::string HtmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendHtmlEscaped(out, text);
  return out;
}

}  // namespace fvx::platform
