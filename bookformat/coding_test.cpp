#include "bookformat/coding.h"

#include <gtest/gtest.h>

namespace fvx::format {
namespace {

std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

TEST(CodingTest, IntegersAreBigEndian) {
  std::string out;
  PutU8(&out, 0xAB);
  PutU16(&out, 0x1234);
  PutU32(&out, 0xDEADBEEF);
  EXPECT_EQ(Hex(out), "AB1234DEADBEEF");
  const auto* bytes = reinterpret_cast<const uint8_t*>(out.data());
  EXPECT_EQ(LoadU16(bytes + 1), 0x1234);
  EXPECT_EQ(LoadU32(bytes + 3), 0xDEADBEEFu);
}

TEST(CodingTest, WideOffsetsPutTheLowWordFirst) {
  std::string narrow, wide;
  PutOff(&narrow, 0x0000000512345678ull, OffsetWidth::kNarrow);
  PutOff(&wide, 0x0000000512345678ull, OffsetWidth::kWide);
  EXPECT_EQ(Hex(narrow), "12345678");  // the low 32 bits only
  EXPECT_EQ(Hex(wide), "1234567800000005");
  const auto* bytes = reinterpret_cast<const uint8_t*>(wide.data());
  EXPECT_EQ(LoadOff(bytes, OffsetWidth::kWide), 0x0000000512345678ull);
  EXPECT_EQ(LoadOff(bytes, OffsetWidth::kNarrow), 0x12345678ull);
}

TEST(CodingTest, DoublesAreBigEndianIeee) {
  std::string out;
  PutDouble(&out, 1.0);
  PutDouble(&out, -1234.5);
  EXPECT_EQ(Hex(out), "3FF0000000000000C0934A0000000000");
  EXPECT_EQ(LoadDouble(reinterpret_cast<const uint8_t*>(out.data()) + 8), -1234.5);
}

TEST(CodingTest, StringsCarryTheirLength) {
  std::string out;
  PutString(&out, "ab");
  PutString(&out, "");
  EXPECT_EQ(Hex(out), "000000026162" "00000000");
}

TEST(CodingTest, CheckedArithmeticRefusesOverflow) {
  uint64_t result;
  EXPECT_TRUE(AddChecked(UINT64_MAX - 1, 1, &result));
  EXPECT_FALSE(AddChecked(UINT64_MAX, 1, &result));
  EXPECT_FALSE(MulChecked(uint64_t{1} << 33, uint64_t{1} << 31, &result));
}

}  // namespace
}  // namespace fvx::format
