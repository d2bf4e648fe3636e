#include "bookformat/search_keys.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <string>
#include <vector>

namespace fvx::format {
namespace {

TEST(SearchKeysTest, SeparatorsMatchTheCLocaleBelow0x80AndTheFixedHighBytes) {
  std::setlocale(LC_ALL, "C");
  for (int c = 0; c < 0x80; ++c) {
    EXPECT_EQ(IsSeparator(static_cast<uint8_t>(c)), std::isspace(c) || std::ispunct(c)) << c;
  }
  std::vector<int> high;
  for (int c = 0x80; c < 0x100; ++c) {
    if (IsSeparator(static_cast<uint8_t>(c))) high.push_back(c);
  }
  EXPECT_EQ(high, (std::vector<int>{0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE8, 0xE9, 0xEA,
                                    0xEB, 0xEC, 0xED, 0xEE, 0xFC, 0xFD, 0xFF}));
  // Control bytes and NUL are word bytes.
  EXPECT_TRUE(IsWordByte(0x00));
  EXPECT_TRUE(IsWordByte(0x1F));
  EXPECT_TRUE(IsWordByte(0x7F));
  EXPECT_TRUE(IsWordByte(0xE7));
}

TEST(SearchKeysTest, FoldingChangesOnlyAtoZ) {
  for (int c = 0; c < 0x100; ++c) {
    const uint8_t expected = (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c;
    EXPECT_EQ(FoldCase(static_cast<uint8_t>(c)), expected) << c;
  }
}

std::vector<std::string> Keys(std::string_view word, size_t length = kSearchKeyLength) {
  std::vector<std::string> keys;
  ForEachKey(word, length, [&](const uint8_t* key) {
    keys.emplace_back(reinterpret_cast<const char*>(key), length);
  });
  return keys;
}

TEST(SearchKeysTest, ShortRunsAreOneZeroPaddedKeyLongerRunsEveryWindow) {
  EXPECT_EQ(Keys("A"), (std::vector<std::string>{std::string("a\0\0", 3)}));
  EXPECT_EQ(Keys("Ab"), (std::vector<std::string>{std::string("ab\0", 3)}));
  EXPECT_EQ(Keys("ABC"), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(Keys("Atlas"), (std::vector<std::string>{"atl", "tla", "las"}));
  EXPECT_EQ(Keys("\xC4Qx"), (std::vector<std::string>{"\xC4qx"}));  // only A-Z fold
  EXPECT_TRUE(Keys("").empty());
}

TEST(SearchKeysTest, WordsAreMaximalRunsOfWordBytes) {
  std::vector<std::string> words;
  ForEachWord("  The atlas's page-12, \xE0 x\xFF" "y\tz.", [&](std::string_view word) {
    words.emplace_back(word);
  });
  EXPECT_EQ(words, (std::vector<std::string>{"The", "atlas", "s", "page", "12", "x", "y", "z"}));
}

TEST(SearchKeysTest, PackedKeysSortLikeTheirBytes) {
  const uint8_t a[3] = {'a', 0, 0}, ab[3] = {'a', 'b', 0}, b[3] = {0xE7, 'a', 'a'};
  EXPECT_LT(PackKey3(a), PackKey3(ab));
  EXPECT_LT(PackKey3(ab), PackKey3(b));
}

}  // namespace
}  // namespace fvx::format
