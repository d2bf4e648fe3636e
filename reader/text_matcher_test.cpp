#include "reader/text_matcher.h"

#include <gtest/gtest.h>

#include "bookformat/testing/test_book.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::Element;

SearchQuery Query(std::string w1, std::string w2 = {}, std::string w3 = {}) {
  SearchQuery query;
  query.words = {std::move(w1), std::move(w2), std::move(w3)};
  return query;
}

bool Matches(const SearchQuery& query, const std::string& text) {
  TextMatcher matcher(query, false);
  matcher.Reset();
  matcher.Feed(text);
  matcher.Finish();
  return matcher.Verdict();
}

std::vector<Hit> Hits(const SearchQuery& query, const std::string& text, size_t piece = 0) {
  TextMatcher matcher(query, true);
  matcher.Reset();
  if (piece == 0) piece = text.size() + 1;
  for (size_t at = 0; at < text.size(); at += piece) matcher.Feed(text.substr(at, piece));
  matcher.Finish();
  return matcher.hits();
}

TEST(TextMatcher, AMismatchIsNotComparedWithTheWordsStartAgain) {
  SearchQuery query = Query("aab");
  query.whole_words = false;
  EXPECT_FALSE(Matches(query, "aaab"));
  EXPECT_TRUE(Matches(query, "aab"));
  EXPECT_TRUE(Matches(query, "xaab"));
  EXPECT_TRUE(Matches(query, "aa aab"));
}

TEST(TextMatcher, WholeWords) {
  const SearchQuery query = Query("mars");
  EXPECT_TRUE(Matches(query, "Mars"));          // the very end
  EXPECT_TRUE(Matches(query, "to Mars."));      // before a full stop
  EXPECT_TRUE(Matches(query, "(mars)"));
  EXPECT_FALSE(Matches(query, "Marsh"));
  EXPECT_FALSE(Matches(query, "Demars"));
  EXPECT_TRUE(Matches(query, "Marsh and mars"));
  // Bytes 0xE0-0xE6 and 0xE8-0xEE separate words; 0xE7 belongs to them.
  EXPECT_TRUE(Matches(query, "mars\xE0"));
  EXPECT_TRUE(Matches(query, "mars\xE9"));
  EXPECT_FALSE(Matches(query, "mars\xE7"));
  SearchQuery parts = query;
  parts.whole_words = false;
  EXPECT_TRUE(Matches(parts, "Marsh"));
  EXPECT_TRUE(Matches(parts, "Demars"));
}

TEST(TextMatcher, CaseFoldsOnlyAToZ) {
  EXPECT_TRUE(Matches(Query("VENUS"), "venus"));
  EXPECT_TRUE(Matches(Query("\xC9t\xE9"), "\xC9T\xE9"));
  EXPECT_FALSE(Matches(Query("\xE9t\xE9"), "\xC9T\xE9"));
  SearchQuery exact = Query("Venus");
  exact.match_case = true;
  EXPECT_FALSE(Matches(exact, "venus"));
  EXPECT_TRUE(Matches(exact, "Venus"));
}

TEST(TextMatcher, ElementsAreSkippedAndSeparateWords) {
  const std::string bold = Element(4) + "Saturn" + Element(5);
  EXPECT_TRUE(Matches(Query("saturn"), "the " + bold + " rings"));
  SearchQuery parts = Query("saturn");
  parts.whole_words = false;
  // A word split by an element is two words, as the index sees it.
  EXPECT_FALSE(Matches(parts, "Sat" + Element(4) + "urn"));
  // Element payloads never match.
  EXPECT_FALSE(Matches(parts, Element(34, std::string("saturn") + '\0')));
  // Positions count element bytes.
  const std::vector<Hit> hits = Hits(Query("rings"), "the " + bold + " rings");
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].start, 4 + bold.size() + 1);
  EXPECT_EQ(hits[0].end, hits[0].start + 5);
}

TEST(TextMatcher, FedInPiecesFindsTheSameHits) {
  const std::string text = "Io, Europa" + Element(23, std::string("td\0", 3)) + "Ganymede io io.";
  const SearchQuery query = Query("io", "ganymede", "europa");
  const std::vector<Hit> whole = Hits(query, text);
  ASSERT_EQ(whole.size(), 5u);
  for (size_t piece = 1; piece < 8; ++piece) EXPECT_EQ(Hits(query, text, piece), whole) << piece;
  EXPECT_EQ(whole[0], (Hit{0, 2, 0}));
  EXPECT_EQ(whole[1], (Hit{4, 10, 2}));
  EXPECT_EQ(whole[2].word, 1);
}

TEST(TextMatcher, AndOrCombineLeftToRight) {
  SearchQuery query = Query("red", "blue");
  EXPECT_FALSE(Matches(query, "blue sky"));
  EXPECT_TRUE(Matches(query, "red and blue"));
  query.operator2 = SearchOperator::kOr;
  EXPECT_TRUE(Matches(query, "blue sky"));
  EXPECT_FALSE(Matches(query, "green"));
  // (red OR blue) AND green
  query.words[2] = "green";
  EXPECT_FALSE(Matches(query, "blue"));
  EXPECT_TRUE(Matches(query, "blue green"));
  query.operator3 = SearchOperator::kOr;
  EXPECT_TRUE(Matches(query, "green"));
}

TEST(TextMatcher, PhrasesAndHeadings) {
  EXPECT_TRUE(Matches(Query("red giant"), "a red giant star"));
  EXPECT_FALSE(Matches(Query("red giant"), "a red  giant star"));
  TextMatcher matcher(Query("ring"), false);
  matcher.Reset();
  matcher.FeedPlain("Ring \xFF system");  // a heading's 0xFF is a character, not an element
  matcher.Finish();
  EXPECT_TRUE(matcher.Verdict());
}

TEST(CandidateSet, MergesAndSteps) {
  CandidateSet set;
  set.Assign({{10, 20}, {0, 3}, {15, 25}, {30, 30}, {2, 5}});
  ASSERT_EQ(set.ranges().size(), 2u);
  EXPECT_EQ(set.Count(), 5u + 15u);
  EXPECT_EQ(set.FirstAtOrAfter(0), 0u);
  EXPECT_EQ(set.FirstAtOrAfter(5), 10u);
  EXPECT_EQ(set.FirstAtOrAfter(24), 24u);
  EXPECT_FALSE(set.FirstAtOrAfter(25).has_value());
  EXPECT_EQ(set.LastAtOrBefore(9), 4u);
  EXPECT_EQ(set.LastAtOrBefore(100), 24u);
  EXPECT_EQ(set.LastAtOrBefore(12), 12u);
  EXPECT_FALSE(set.LastAtOrBefore(-1).has_value());
}

}  // namespace
}  // namespace fvx::reader
