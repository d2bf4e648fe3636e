#include "server/html_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace fvx::server {
namespace {

bool IsUtf8Name(std::string_view charset) {
  std::string lower;
  for (const char c : charset) {
    if (c != '-' && c != '_') lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
  }
  return lower == "utf8";
}

// One iconv handle per conversion; iconv handles are not shared between
// threads.
class Converter {
 public:
  Converter(const char* to, const std::string& from) : handle_(iconv_open(to, from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Unconvertible input bytes are skipped.
  std::string Run(std::string_view text) {
    std::string out;
    char buffer[4096];
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    while (in_left > 0) {
      char* to = buffer;
      size_t to_left = sizeof buffer;
      const size_t result = iconv(handle_, &in, &in_left, &to, &to_left);
      out.append(buffer, static_cast<size_t>(to - buffer));
      if (result == static_cast<size_t>(-1) && errno != E2BIG) {
        if (in_left == 0) break;
        ++in;  // EILSEQ or EINVAL: drop the byte and go on
        --in_left;
      }
    }
    return out;
  }

 private:
  iconv_t handle_;
};

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = length != 0 && i + length <= bytes.size();
    for (size_t k = 1; good && k < length; ++k) {
      good = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    }
    if (good) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20 || c == '<' || c == '>' || c == '&') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
  if (IsUtf8Name(charset)) return ValidUtf8(bytes);
  bool ascii = true;
  for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(bytes);
  Converter named("UTF-8", charset.empty() ? std::string("WINDOWS-1252") : std::string(charset));
  if (named.ok()) return named.Run(bytes);
  Converter fallback("UTF-8", "WINDOWS-1252");
  return fallback.Run(bytes);
}

std::string FromUtf8(std::string_view text, std::string_view charset) {
  if (IsUtf8Name(charset)) return std::string(text);
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  Converter named(charset.empty() ? "WINDOWS-1252" : std::string(charset).c_str(), "UTF-8");
  if (named.ok()) return named.Run(text);
  Converter fallback("WINDOWS-1252", "UTF-8");
  return fallback.Run(text);
}

}  // namespace fvx::server
