#include "reader/value_format.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace fvx::reader {

std::string FormatNumber(double value, uint32_t precision) {
  const int decimals = static_cast<int>(std::min(precision, kMaxPrecision));
  const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  if (needed <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
  const std::string plain(buffer.data(), static_cast<size_t>(needed));

  const size_t point = std::min(plain.find('.'), plain.size());
  if (point <= 4) return plain;
  const size_t digits_from = (plain[0] == '-' || plain[0] == '+') ? 1 : 0;
  std::string grouped = plain.substr(0, digits_from);
  const size_t digit_count = point - digits_from;
  for (size_t i = 0; i < digit_count; ++i) {
    if (i > 0 && (digit_count - i) % 3 == 0) grouped += ',';
    grouped += plain[digits_from + i];
  }
  grouped.append(plain, point, std::string::npos);
  return grouped;
}

std::string FormatNumericValue(double value, uint32_t precision, std::string_view prefix,
                               std::string_view suffix) {
  std::string text;
  if (!prefix.empty()) {
    text.append(prefix);
    text += ' ';
  }
  text += FormatNumber(value, precision);
  if (!suffix.empty()) {
    text += ' ';
    text.append(suffix);
  }
  return text;
}

}  // namespace fvx::reader
