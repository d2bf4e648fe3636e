#include "compiler/base/message_format.h"

#include <gtest/gtest.h>

#include "compiler/base/messages.h"

namespace fvx::compiler {
namespace {

TEST(MessageFormatTest, PlaceholdersTakeArgumentsByConversion) {
  EXPECT_EQ(FormatMessage("Line %1 : Col %2 : ", "%d:%d", {12, 7}), "Line 12 : Col 7 : ");
  EXPECT_EQ(FormatMessage("\"%1\" is %2", "%s:%.2f", {"pi", 3.14159}), "\"pi\" is 3.14");
  EXPECT_EQ(FormatMessage("%2 before %1", "%s:%s", {"a", "b"}), "b before a");
  EXPECT_EQ(FormatMessage("%1/%2/%3", "%s:%f:%f", {"x", 1.5, 2}), "x/1.500000/2.000000");
  EXPECT_EQ(FormatMessage("%1", "%08X", {0xABCu}), "00000ABC");
}

TEST(MessageFormatTest, PercentSignsAndMissingArguments) {
  EXPECT_EQ(FormatMessage("Overhead : %1%%", "%.2f", {12.5}), "Overhead : 12.50%");
  EXPECT_EQ(FormatMessage("a %1 b %2 c", "%d", {1}), "a 1 b  c");
  EXPECT_EQ(FormatMessage("100% sure %x", "", {}), "100% sure %x");
  // A conversion piece may carry literal text of its own.
  EXPECT_EQ(FormatMessage(MessageText(MessageId::kSegmentationTrial), "%d:%2.2f%%:%d%%",
                          {64, 3.456, 87}),
            "Segmentation = 64. Overhead = 3.46%. Efficiency = 87%.");
}

TEST(MessageFormatTest, ArgumentTypesAreHonouredWhateverTheLengthModifier) {
  EXPECT_EQ(ConvertArgument("%d", MessageArg(uint64_t{5000000000ull})), "5000000000");
  EXPECT_EQ(ConvertArgument("%ld", MessageArg(-3)), "-3");
  EXPECT_EQ(ConvertArgument("%u", MessageArg(4294967295u)), "4294967295");
  EXPECT_EQ(ConvertArgument("%s", MessageArg(42)), "42");
  EXPECT_EQ(ConvertArgument("%d", MessageArg("17")), "17");
  EXPECT_EQ(ConvertArgument("%.0f", MessageArg(2)), "2");
  EXPECT_EQ(ConvertArgument("%c", MessageArg(65)), "A");
  EXPECT_EQ(ConvertArgument("%q", MessageArg(1)), "%q");
}

TEST(MessageFormatTest, LongTextsAreNotCut) {
  std::string heading(3000, 'h');
  EXPECT_EQ(FormatMessage("[%1]", "%s", {heading}), "[" + heading + "]");
}

TEST(MessageFormatTest, LevelPrefixesAndColours) {
  EXPECT_STREQ(LevelPrefix(Level::kWarning), "[ Warning ] ");
  EXPECT_STREQ(LevelPrefix(Level::kError), "[  Error  ] ");
  EXPECT_STREQ(LevelPrefix(Level::kFatal), "[  Fatal Error  ] ");
  EXPECT_STREQ(LevelPrefix(Level::kInformation), "");
  EXPECT_STREQ(LevelColour(Level::kWarning), "03,00");
  EXPECT_STREQ(LevelColour(Level::kError), "13,00");
  EXPECT_STREQ(LevelColour(Level::kFatal), "07,00");
  EXPECT_STREQ(LevelColour(Level::kInformation), "01,00");
}

TEST(MessageFormatTest, SizeTextForms) {
  EXPECT_EQ(SizeText(0), "0 Bytes");
  EXPECT_EQ(SizeText(1023), "1023 Bytes");
  EXPECT_EQ(SizeText(1024), "1.00 KB");
  EXPECT_EQ(SizeText(1048575), "1024.00 KB");
  EXPECT_EQ(SizeText(1048576), "1.00 MB");
  // Only the low 32 bits are shown.
  EXPECT_EQ(SizeText((uint64_t{1} << 32) + 5), "5 Bytes");
}

TEST(MessageTableTest, EntriesAndMissingIds) {
  EXPECT_STREQ(MessageText(MessageId::kTally), "%1 error(s), %2 warning(s)");
  EXPECT_STREQ(MessageText(MessageId::kParsingInputFile), "Parsing input file... ");
  EXPECT_EQ(MessageText(MessageId::kNone), nullptr);
  EXPECT_EQ(MessageText(MessageId::kCount), nullptr);
  EXPECT_EQ(MessageText(uint32_t{100000}), nullptr);
  for (uint32_t id = 1; id < static_cast<uint32_t>(MessageId::kCount); ++id) {
    ASSERT_NE(MessageText(id), nullptr) << id;
    EXPECT_NE(MessageText(id)[0], '\0') << id;
  }
}

}  // namespace
}  // namespace fvx::compiler
