#include "reader/book_charset.h"

#include <gtest/gtest.h>

#include "bookformat/testing/test_book.h"
#include "reader/book_document.h"

namespace fvx::reader {
namespace {

TEST(BookCharsetTest, Utf8MustBeWellFormed) {
  bool multibyte = false;
  EXPECT_TRUE(LooksLikeUtf8("plain", &multibyte));
  EXPECT_FALSE(multibyte);
  EXPECT_TRUE(LooksLikeUtf8("caf\xC3\xA9", &multibyte));
  EXPECT_TRUE(multibyte);
  EXPECT_FALSE(LooksLikeUtf8("caf\xE9", &multibyte));           // Windows-1252 é
  EXPECT_FALSE(LooksLikeUtf8("\xE2\x82", &multibyte));          // cut short
  EXPECT_FALSE(LooksLikeUtf8("\xC0\xAF", &multibyte));          // overlong
  EXPECT_FALSE(LooksLikeUtf8("\xF5\x80\x80\x80", &multibyte));  // past U+10FFFF
}

// The headings decide, wherever in the book the telling one stands.
TEST(BookCharsetTest, HeadingsTellUtf8FromWindows1252) {
  auto charset_of = [](std::vector<std::string> headings) {
    format::testing::TestBookSpec spec;
    spec.character_set.clear();
    for (std::string& heading : headings) spec.subjects.push_back({heading, "Text."});
    BookDocument document;
    OpenCode code = OpenCode::kDamaged;
    EXPECT_TRUE(document.OpenBytes(format::testing::BuildTestBook(spec), "charset.fvx", &code));
    return CharsetFromHeadings(document);
  };
  EXPECT_EQ(charset_of({"Alpha", "Beta"}), "windows-1252");
  EXPECT_EQ(charset_of({"Alpha", "Caf\xC3\xA9"}), "UTF-8");
  EXPECT_EQ(charset_of({"Caf\xC3\xA9", "Na\xEFve"}), "windows-1252");
}

}  // namespace
}  // namespace fvx::reader
