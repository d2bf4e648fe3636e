#include "reader/app_link.h"

#include <gtest/gtest.h>

namespace fvx::reader {
namespace {

TEST(AppLink, ParsesTheThreeNumbersAndTheText) {
  EXPECT_EQ(ParseAppLink("fvxapp://<0:17:230>"), (AppLink{0, 17, 230, ""}));
  EXPECT_EQ(ParseAppLink("fvxapp://<4:0:0>http://example.com/x?a=1"),
            (AppLink{4, 0, 0, "http://example.com/x?a=1"}));
  EXPECT_EQ(ParseAppLink("fvxapp://<5:0:0>436F"), (AppLink{5, 0, 0, "436F"}));
  // The browser may hand the address over escaped.
  EXPECT_EQ(ParseAppLink("fvxapp://%3C6:12:0%3E"), (AppLink{6, 12, 0, ""}));
}

TEST(AppLink, RefusesWhatIsNotThreeDecimalNumbers) {
  for (const char* url : {"fvxapp://", "fvxapp://<1:2>", "fvxapp://<1:2:3", "fvxapp://<a:2:3>",
                          "fvxapp://<-1:2:3>", "fvxapp://<1::3>", "fvxapp://<1:2:99999999999>",
                          "http://example.com/", "fvxapp://<1:2: 3>"}) {
    EXPECT_FALSE(ParseAppLink(url).has_value()) << url;
  }
}

TEST(AppLink, HexDecoding) {
  EXPECT_EQ(HexDecode("436f6C"), "Col");
  EXPECT_EQ(HexDecode("E9"), "\xE9");
  EXPECT_EQ(HexDecode(""), "");
  EXPECT_FALSE(HexDecode("4").has_value());
  EXPECT_FALSE(HexDecode("4G").has_value());
  EXPECT_EQ(DecodePercentEscapes("a%20b%zz%4"), "a b%zz%4");
}

}  // namespace
}  // namespace fvx::reader
