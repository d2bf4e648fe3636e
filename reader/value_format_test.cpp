#include "reader/value_format.h"

#include <gtest/gtest.h>

namespace fvx::reader {
namespace {

TEST(ValueFormat, GroupsIntegerPartsLongerThanFourCharacters) {
  EXPECT_EQ(FormatNumber(1234, 0), "1234");
  EXPECT_EQ(FormatNumber(12345, 0), "12,345");
  EXPECT_EQ(FormatNumber(123456, 0), "123,456");
  EXPECT_EQ(FormatNumber(1234567.5, 1), "1,234,567.5");
  // The sign counts towards the four characters but is never grouped.
  EXPECT_EQ(FormatNumber(-123, 0), "-123");
  EXPECT_EQ(FormatNumber(-1234, 2), "-1,234.00");
  EXPECT_EQ(FormatNumber(-123456, 0), "-123,456");
  EXPECT_EQ(FormatNumber(0.125, 2), "0.12");
}

TEST(ValueFormat, ModifiersStandApartBySpaces) {
  EXPECT_EQ(FormatNumericValue(1234567.5, 1, "$", "USD"), "$ 1,234,567.5 USD");
  EXPECT_EQ(FormatNumericValue(-1234.0, 2, "", ""), "-1,234.00");
  EXPECT_EQ(FormatNumericValue(3, 0, "", "kg"), "3 kg");
  EXPECT_EQ(FormatNumericValue(3, 0, "ca.", ""), "ca. 3");
}

TEST(ValueFormat, HugePrecisionFromADamagedBookIsBounded) {
  const std::string text = FormatNumber(1.5, 0xFFFFFFFF);
  EXPECT_EQ(text.size(), 2 + kMaxPrecision);
}

}  // namespace
}  // namespace fvx::reader
