// Filters: conditions on category values that build a result list, and the
// filter expressions that filter links carry.
//
//   expression := item (combiner item)*
//   item       := blank* name blank* operator blank* value
//   name       := the bytes up to the first of ! < = >      (trailing blanks dropped)
//   operator   := "=" | "<" | "<=" | ">" | ">=" | "!="
//   value      := the bytes up to the next "<"               (trailing blanks dropped)
//   combiner   := "<" ("AND" | "OR" | "NOT") ">"             -- any letter case
//
// The first item replaces the filter; a combiner gives the mode of the item
// after it. NOT narrows like AND: the item itself is not negated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/document.h"

namespace fvx::reader {

struct FilterItem {
  std::string category;
  FilterOperator op = FilterOperator::kEqual;
  std::string value;
  FilterMode mode = FilterMode::kReplace;
  bool operator==(const FilterItem&) const = default;
};

// nullopt when the text does not follow the grammar.
std::optional<std::vector<FilterItem>> ParseFilterExpression(std::string_view text);

// The values that satisfy "op value" in a category of value_count values,
// as a half-open range of value indexes [first, end), plus whether the
// condition is the complement of that range (operator !=).
struct ValueRange {
  uint32_t first = 0;
  uint32_t end = 0;
  bool complement = false;
};
ValueRange ValuesSatisfying(FilterOperator op, uint32_t value, uint32_t value_count);

// Sorted, duplicate-free subject lists.
void SortUnique(std::vector<uint32_t>* subjects);
std::vector<uint32_t> Union(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
std::vector<uint32_t> Intersection(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
// Every subject below count that is not in the list.
std::vector<uint32_t> Complement(const std::vector<uint32_t>& subjects, uint32_t count);

// A-Z folded comparisons, as headings and text values are ordered.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace fvx::reader
