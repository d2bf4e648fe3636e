#include "reader/filter.h"

#include <gtest/gtest.h>

namespace fvx::reader {
namespace {

using Op = FilterOperator;
using Mode = FilterMode;

TEST(FilterExpression, ItemsOperatorsAndCombiners) {
  const auto items = ParseFilterExpression(
      "  Colour = red<AND>Size>= 10 <or> Type!=Gas giant<NOT>Price<2.5<and>Price <= 9<OR>A>b");
  ASSERT_TRUE(items.has_value());
  const std::vector<FilterItem> expected = {
      {"Colour", Op::kEqual, "red", Mode::kReplace},
      {"Size", Op::kGreaterOrEqual, "10", Mode::kAnd},
      {"Type", Op::kNotEqual, "Gas giant", Mode::kOr},
      {"Price", Op::kLess, "2.5", Mode::kNot},
      {"Price", Op::kLessOrEqual, "9", Mode::kAnd},
      {"A", Op::kGreater, "b", Mode::kOr},
  };
  EXPECT_EQ(*items, expected);
}

TEST(FilterExpression, MalformedTextIsRefused) {
  for (const char* text : {"", "Colour", "Colour ! red", "= red", "Colour = red<XOR>Size = 1",
                           "Colour = red<AND", "Colour = red<AND>"}) {
    EXPECT_FALSE(ParseFilterExpression(text).has_value()) << text;
  }
}

TEST(FilterValues, RangesPerOperator) {
  auto range = [](Op op, uint32_t v) {
    const ValueRange r = ValuesSatisfying(op, v, 5);
    return std::make_tuple(r.first, r.end, r.complement);
  };
  EXPECT_EQ(range(Op::kEqual, 2), std::make_tuple(2u, 3u, false));
  EXPECT_EQ(range(Op::kLess, 2), std::make_tuple(0u, 2u, false));
  EXPECT_EQ(range(Op::kLessOrEqual, 2), std::make_tuple(0u, 3u, false));
  EXPECT_EQ(range(Op::kGreater, 2), std::make_tuple(3u, 5u, false));
  EXPECT_EQ(range(Op::kGreaterOrEqual, 2), std::make_tuple(2u, 5u, false));
  EXPECT_EQ(range(Op::kNotEqual, 2), std::make_tuple(2u, 3u, true));
  EXPECT_EQ(range(Op::kGreater, 4), std::make_tuple(5u, 5u, false));
}

TEST(FilterSets, UnionIntersectionComplement) {
  const std::vector<uint32_t> a = {1, 3, 5}, b = {3, 4};
  EXPECT_EQ(Union(a, b), (std::vector<uint32_t>{1, 3, 4, 5}));
  EXPECT_EQ(Intersection(a, b), (std::vector<uint32_t>{3}));
  EXPECT_EQ(Complement(a, 7), (std::vector<uint32_t>{0, 2, 4, 6}));
  std::vector<uint32_t> c = {4, 1, 4, 2};
  SortUnique(&c);
  EXPECT_EQ(c, (std::vector<uint32_t>{1, 2, 4}));
}

TEST(FilterCompare, FoldsOnlyAToZ) {
  EXPECT_EQ(CompareNoCase("abc", "ABC"), 0);
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_LT(CompareNoCase("a_", "aa"), 0);  // "_" sorts before letters
  EXPECT_LT(CompareNoCase("a1", "a_"), 0);
  EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);
  EXPECT_TRUE(StartsWithNoCase("Jupiter", "JUP"));
  EXPECT_FALSE(StartsWithNoCase("Ju", "Jup"));
}

}  // namespace
}  // namespace fvx::reader
