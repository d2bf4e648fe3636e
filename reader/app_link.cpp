#include "reader/app_link.h"

namespace fvx::reader {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<uint32_t> Decimal(std::string_view field) {
  if (field.empty() || field.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

std::string DecodePercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<AppLink> ParseAppLink(std::string_view url) {
  std::string decoded;
  if (url.find('<') == std::string_view::npos) {
    decoded = DecodePercentEscapes(url);
    url = decoded;
  }
  const size_t open = url.find('<');
  if (open == std::string_view::npos) return std::nullopt;
  const size_t first = url.find(':', open + 1);
  if (first == std::string_view::npos) return std::nullopt;
  const size_t second = url.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const size_t close = url.find('>', second + 1);
  if (close == std::string_view::npos) return std::nullopt;
  const auto a = Decimal(url.substr(open + 1, first - open - 1));
  const auto b = Decimal(url.substr(first + 1, second - first - 1));
  const auto c = Decimal(url.substr(second + 1, close - second - 1));
  if (!a || !b || !c) return std::nullopt;
  return AppLink{*a, *b, *c, std::string(url.substr(close + 1))};
}

std::optional<std::string> HexDecode(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

}  // namespace fvx::reader
