#include "reader/filter.h"

#include <algorithm>
#include <iterator>

#include "bookformat/search_keys.h"

namespace fvx::reader {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsOperatorChar(char c) { return c == '!' || c == '<' || c == '=' || c == '>'; }

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void SkipBlanks(std::string_view text, size_t* at) {
  while (*at < text.size() && IsBlank(text[*at])) ++*at;
}

std::optional<FilterOperator> ReadOperator(std::string_view text, size_t* at) {
  if (*at >= text.size()) return std::nullopt;
  const char first = text[(*at)++];
  const bool equals_follows = *at < text.size() && text[*at] == '=';
  switch (first) {
    case '=': return FilterOperator::kEqual;
    case '<':
      if (equals_follows) ++*at;
      return equals_follows ? FilterOperator::kLessOrEqual : FilterOperator::kLess;
    case '>':
      if (equals_follows) ++*at;
      return equals_follows ? FilterOperator::kGreaterOrEqual : FilterOperator::kGreater;
    case '!':
      if (!equals_follows) return std::nullopt;
      ++*at;
      return FilterOperator::kNotEqual;
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<std::vector<FilterItem>> ParseFilterExpression(std::string_view text) {
  std::vector<FilterItem> items;
  size_t at = 0;
  FilterMode mode = FilterMode::kReplace;
  for (;;) {
    FilterItem item;
    item.mode = mode;
    SkipBlanks(text, &at);
    const size_t name_start = at;
    while (at < text.size() && !IsOperatorChar(text[at])) ++at;
    item.category = std::string(TrimRight(text.substr(name_start, at - name_start)));
    const std::optional<FilterOperator> op = ReadOperator(text, &at);
    if (!op || item.category.empty()) return std::nullopt;
    item.op = *op;
    SkipBlanks(text, &at);
    const size_t value_start = at;
    while (at < text.size() && text[at] != '<') ++at;
    item.value = std::string(TrimRight(text.substr(value_start, at - value_start)));
    items.push_back(std::move(item));
    if (at >= text.size()) return items;

    const size_t close = text.find('>', at);
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view word = text.substr(at + 1, close - at - 1);
    while (!word.empty() && IsBlank(word.front())) word.remove_prefix(1);
    word = TrimRight(word);
    if (EqualNoCase(word, "AND")) {
      mode = FilterMode::kAnd;
    } else if (EqualNoCase(word, "OR")) {
      mode = FilterMode::kOr;
    } else if (EqualNoCase(word, "NOT")) {
      mode = FilterMode::kNot;
    } else {
      return std::nullopt;
    }
    at = close + 1;
  }
}

ValueRange ValuesSatisfying(FilterOperator op, uint32_t value, uint32_t value_count) {
  const uint32_t v = std::min(value, value_count);
  const uint32_t next = v < value_count ? v + 1 : v;
  switch (op) {
    case FilterOperator::kEqual: return {v, next, false};
    case FilterOperator::kLess: return {0, v, false};
    case FilterOperator::kLessOrEqual: return {0, next, false};
    case FilterOperator::kGreater: return {next, value_count, false};
    case FilterOperator::kGreaterOrEqual: return {v, value_count, false};
    case FilterOperator::kNotEqual: return {v, next, true};
  }
  return {0, 0, false};
}

void SortUnique(std::vector<uint32_t>* subjects) {
  std::sort(subjects->begin(), subjects->end());
  subjects->erase(std::unique(subjects->begin(), subjects->end()), subjects->end());
}

std::vector<uint32_t> Union(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  out.reserve(a.size() + b.size());
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

std::vector<uint32_t> Intersection(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

std::vector<uint32_t> Complement(const std::vector<uint32_t>& subjects, uint32_t count) {
  std::vector<uint32_t> out;
  size_t i = 0;
  for (uint32_t s = 0; s < count; ++s) {
    while (i < subjects.size() && subjects[i] < s) ++i;
    if (i < subjects.size() && subjects[i] == s) continue;
    out.push_back(s);
  }
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = format::FoldCase(static_cast<uint8_t>(a[i]));
    const uint8_t y = format::FoldCase(static_cast<uint8_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace fvx::reader
