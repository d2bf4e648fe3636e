#include "server/request_target.h"

namespace fvx::server {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::optional<std::string_view> RequestTarget::Param(std::string_view name) const {
  for (const auto& [key, value] : query) {
    if (key == name) return std::string_view(value);
  }
  return std::nullopt;
}

std::optional<std::string> DecodeComponent(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
    out.push_back(c);
  }
  return out;
}

std::string EncodeComponent(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    }
  }
  return out;
}

bool ParseTarget(std::string_view raw, RequestTarget* out) {
  *out = RequestTarget{};
  if (raw.empty() || raw.size() > kMaxTargetLength || raw[0] != '/') return false;
  const size_t question = raw.find('?');
  const std::string_view path = raw.substr(0, question);
  // A fragment never reaches a server; one that does is malformed.
  if (raw.find('#') != std::string_view::npos) return false;
  size_t at = 1;
  while (at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    if (end == at) return false;  // "//": an empty segment
    const std::optional<std::string> segment = DecodeComponent(path.substr(at, end - at), false);
    if (!segment || *segment == "." || *segment == ".." ||
        segment->find_first_of("/\\") != std::string::npos) {
      return false;
    }
    out->segments.push_back(*segment);
    if (end + 1 == path.size()) out->trailing_slash = true;
    at = end + 1;
  }
  if (question == std::string_view::npos) return true;
  std::string_view query = raw.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::optional<std::string> name = DecodeComponent(pair.substr(0, equals), true);
    const std::optional<std::string> value =
        DecodeComponent(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1), true);
    if (!name || !value || name->empty() || value->size() > kMaxValueLength ||
        out->query.size() >= kMaxParameters) {
      return false;
    }
    out->query.emplace_back(*name, *value);
  }
  return true;
}

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max) {
  if (text.empty() || text.size() > 19) return std::nullopt;  // 19 digits never overflow
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<uint32_t> ParseUint32(std::string_view text) {
  const std::optional<uint64_t> value = ParseDecimal(text, UINT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

}  // namespace fvx::server
