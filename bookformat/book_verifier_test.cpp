#include "bookformat/book_verifier.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "bookformat/testing/sample_book.h"
#include "bookformat/testing/test_book.h"

namespace fvx::format {
namespace {

TEST(BookVerifierTest, SampleBooksOfEveryShapeVerify) {
  for (uint8_t version : {1, 2}) {
    for (bool sorted : {true, false}) {
      for (bool bookmarks : {false, true}) {
        testing::SampleBookOptions options;
        options.version = version;
        options.stored_sorted = sorted;
        options.with_bookmarks = bookmarks;
        const testing::SampleBook book = testing::BuildSampleBook(options);
        const std::string path = testing::WriteTemporaryFile(book.container, "verify");
        BookCheck check;
        EXPECT_TRUE(VerifyBook(path, &check))
            << check.problem << " (version " << int{version} << ", sorted " << sorted
            << ", bookmarks " << bookmarks << ")";
        EXPECT_TRUE(check.digest_ok);
        std::remove(path.c_str());
      }
    }
  }
}

// The reader finds headings by bisection, so a book whose headings are not
// in heading order (as stored, or through its lookup) is misread.
TEST(BookVerifierTest, HeadingsOutOfOrderAreFound) {
  using testing::TestBookSpec;
  auto verify = [](const TestBookSpec& spec, BookCheck* check) {
    const testing::TemporaryBookFile file(testing::BuildTestBook(spec));
    return VerifyBook(file.path(), check);
  };
  // In heading order: only A-Z fold, a prefix first ("b\xE9" is stored with
  // a marker byte that the order must not see).
  const std::vector<std::string> in_order = {"Ab", "abc", "Abd", "b\xE9", "b\xE9z"};
  TestBookSpec sorted;
  for (const std::string& heading : in_order) sorted.subjects.push_back({heading, "text", false});
  BookCheck check;
  EXPECT_TRUE(verify(sorted, &check)) << check.problem;

  TestBookSpec swapped = sorted;
  std::swap(swapped.subjects[1], swapped.subjects[2]);
  EXPECT_FALSE(verify(swapped, &check));
  EXPECT_NE(check.problem.find("section S: subject 2 (\"abc\") is stored after \"Abd\""),
            std::string::npos)
      << check.problem;

  // Source order with a lookup: right, then two positions exchanged.
  TestBookSpec lookup;
  for (int s : {3, 1, 4, 0, 2}) lookup.subjects.push_back({in_order[s], "text", false});
  lookup.sort_order = {3, 1, 4, 0, 2};
  EXPECT_TRUE(verify(lookup, &check)) << check.problem;
  lookup.sort_order = {3, 4, 1, 0, 2};
  EXPECT_FALSE(verify(lookup, &check));
  EXPECT_NE(check.problem.find("section Q lookup table: sort position 2 (\"abc\") sorts before "
                               "\"Abd\""),
            std::string::npos)
      << check.problem;
}

// Filters take ranges of value indexes, so values out of value order
// (numbers ascending, texts as headings compare) make them pick wrong.
TEST(BookVerifierTest, ValuesOutOfOrderAreFound) {
  using testing::TestBookSpec;
  using testing::TestCategory;
  auto verify = [](const TestCategory& category, BookCheck* check) {
    TestBookSpec spec;
    spec.subjects = {{"one", "text", false}, {"two", "more", false}};
    spec.categories = {category};
    const testing::TemporaryBookFile file(testing::BuildTestBook(spec));
    return VerifyBook(file.path(), check);
  };
  TestCategory text;
  text.name = "Colour";
  text.names = {"Blue", "blue", "green", "Red"};
  text.values_of_subject = {{0}, {3}};
  TestCategory number;
  number.name = "Size";
  number.flags = 0x1;
  number.numbers = {-1.5, 0, 2, 10};
  number.values_of_subject = {{1}, {}};
  BookCheck check;
  EXPECT_TRUE(verify(text, &check)) << check.problem;
  EXPECT_TRUE(verify(number, &check)) << check.problem;
  text.names = {"Blue", "green", "blue", "Red"};
  EXPECT_FALSE(verify(text, &check));
  EXPECT_NE(check.problem.find("(\"Colour\") value table: value 2 is out of value order"),
            std::string::npos)
      << check.problem;
  number.numbers = {-1.5, 2, 0, 10};
  EXPECT_FALSE(verify(number, &check));
  EXPECT_NE(check.problem.find("(\"Size\") value table: value 2 is out of value order"),
            std::string::npos)
      << check.problem;
}

}  // namespace
}  // namespace fvx::format
