#include <gtest/gtest.h>

#include <random>
#include <set>

#include "bookformat/search_keys.h"
#include "bookformat/testing/test_book.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::BuildTestBook;
using testing::Element;
using testing::TestBookSpec;

std::unique_ptr<BookDocument> Open(const TestBookSpec& spec) {
  auto document = std::make_unique<BookDocument>();
  OpenCode code;
  EXPECT_TRUE(document->OpenBytes(BuildTestBook(spec), "search.fvx", &code));
  return document;
}

SearchQuery Query(std::string w1, std::string w2 = {}, std::string w3 = {}) {
  SearchQuery query;
  query.words = {std::move(w1), std::move(w2), std::move(w3)};
  return query;
}

// Runs a find-all search to its end and installs the results.
std::vector<uint32_t> FindAll(BookDocument& document, SearchQuery query, uint32_t start = 0) {
  query.find_all = true;
  uint64_t candidates = 0;
  document.ClearResults();
  EXPECT_TRUE(document.BeginSearch(query, start, &candidates));
  uint32_t current = 0;
  while (document.SearchStep(SearchDirection::kForwards, 5, &current) != SearchStepResult::kFinished) {
  }
  document.EndSearch();
  return document.HasResults() ? document.Results() : std::vector<uint32_t>{};
}

// Eight subjects, one per index segment.
TestBookSpec Moons() {
  return testing::SimpleBook({"Io is volcanic.", "Europa has ice.", "Ganymede is large.",
                              "Callisto.", "Titan has a thick atmosphere.", "a b c",
                              "Enceladus sprays ice.", "Triton orbits backwards. Io"});
}

TEST(Search, AnEmptyFirstWordFails) {
  auto document = Open(Moons());
  uint64_t candidates = 7;
  EXPECT_FALSE(document->BeginSearch(Query("", "ice"), 0, &candidates));
  EXPECT_EQ(candidates, 0u);
  EXPECT_EQ(document->SearchProgress(), 100);
}

TEST(Search, TheIndexNarrowsCandidatesForKeysOfEveryLength) {
  auto document = Open(Moons());
  auto candidates = [&](const SearchQuery& query) {
    uint64_t count = 0;
    EXPECT_TRUE(document->BeginSearch(query, 0, &count));
    return count;
  };
  EXPECT_EQ(candidates(Query("a")), 2u);        // one key, padded: "a" (Titan's "a", "a b c")
  EXPECT_EQ(candidates(Query("io")), 2u);       // two bytes
  EXPECT_EQ(candidates(Query("ice")), 2u);      // exactly three
  EXPECT_EQ(candidates(Query("Titan")), 1u);    // every three-byte window
  EXPECT_EQ(candidates(Query("ICE")), 2u);      // keys are folded
  EXPECT_EQ(candidates(Query("zebra")), 0u);    // a key the index lacks
  EXPECT_EQ(candidates(Query("ice", "zebra")), 0u);
  SearchQuery either = Query("ice", "zebra");
  either.operator2 = SearchOperator::kOr;
  EXPECT_EQ(candidates(either), 2u);
  // A word the index cannot hold a key of (only separators) restricts nothing.
  EXPECT_EQ(candidates(Query("...")), 8u);
  SearchQuery headings = Query("zebra");
  headings.headings_only = true;
  EXPECT_EQ(candidates(headings), 8u);
}

TEST(Search, AWordMissingFromTheIndexReadsNoSubject) {
  auto document = Open(Moons());
  const uint64_t misses = document->content_cache()->misses();
  EXPECT_TRUE(FindAll(*document, Query("ice", "zebra")).empty());
  EXPECT_EQ(document->SubjectsTested(), 0u);
  // Only the index itself was read.
  EXPECT_LE(document->content_cache()->misses() - misses, 1u);
}

TEST(Search, FindAllAndOr) {
  auto document = Open(Moons());
  EXPECT_EQ(FindAll(*document, Query("ice")), (std::vector<uint32_t>{1, 6}));
  EXPECT_EQ(FindAll(*document, Query("io")), (std::vector<uint32_t>{0, 7}));
  EXPECT_TRUE(FindAll(*document, Query("ice", "Io")).empty());
  SearchQuery either = Query("volcanic", "sprays");
  either.operator2 = SearchOperator::kOr;
  EXPECT_EQ(FindAll(*document, either), (std::vector<uint32_t>{0, 6}));
  SearchQuery both = Query("has", "ice");
  EXPECT_EQ(FindAll(*document, both), (std::vector<uint32_t>{1}));
  SearchQuery heading = Query("subject 004");
  heading.headings_only = true;
  EXPECT_EQ(FindAll(*document, heading), (std::vector<uint32_t>{4}));
}

TEST(Search, ShortPiecesOfASubstringSearchDoNotHideLongerWords) {
  auto document = Open(Moons());
  SearchQuery query = Query("is");
  query.whole_words = false;
  // "is" inside "Callisto" has no key of its own in the index.
  EXPECT_EQ(FindAll(*document, query), (std::vector<uint32_t>{0, 2, 3}));
  query.words[0] = "s ice";  // "s" may end a longer word; "ice" is whole
  EXPECT_EQ(FindAll(*document, query), (std::vector<uint32_t>{1, 6}));
  query.whole_words = true;
  query.words[0] = "is";
  EXPECT_EQ(FindAll(*document, query), (std::vector<uint32_t>{0, 2}));
}

TEST(Search, FindNextCollectsHitsAndContinuesBothWays) {
  auto document = Open(Moons());
  uint64_t candidates;
  ASSERT_TRUE(document->BeginSearch(Query("io"), 0, &candidates));
  uint32_t current = 99;
  EXPECT_EQ(document->SearchStep(SearchDirection::kForwards, 5, &current), SearchStepResult::kFound);
  EXPECT_EQ(current, 0u);
  EXPECT_EQ(document->Hits(), (std::vector<Hit>{{0, 2, 0}}));
  EXPECT_TRUE(document->CanSearchForwards());
  EXPECT_FALSE(document->CanSearchBackwards());
  SearchStepResult result;
  while ((result = document->SearchStep(SearchDirection::kForwards, 5, &current)) ==
         SearchStepResult::kContinue) {
  }
  EXPECT_EQ(result, SearchStepResult::kFound);
  EXPECT_EQ(current, 7u);
  EXPECT_EQ(document->Hits(), (std::vector<Hit>{{25, 27, 0}}));
  EXPECT_EQ(document->SearchStep(SearchDirection::kForwards, 5, &current), SearchStepResult::kFinished);
  EXPECT_FALSE(document->CanSearchForwards());
  // Back from the last match.
  while ((result = document->SearchStep(SearchDirection::kBackwards, 5, &current)) ==
         SearchStepResult::kContinue) {
  }
  EXPECT_EQ(result, SearchStepResult::kFound);
  EXPECT_EQ(current, 0u);

  // The hits of the subject on show are highlighted in its page.
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(document->RenderPage(0, 0, 0, 0, true, &pictures, &page));
  EXPECT_NE(page.find("<a name=\"findloc\"></a><span class=\"fvxsearchHLFFFF00\">Io</span> is"),
            std::string::npos);
  page.clear();
  ASSERT_TRUE(document->RenderPage(0, 0, 0, 0, false, &pictures, &page));
  EXPECT_EQ(page.find("findloc"), std::string::npos);
  document->ClearHits();
  page.clear();
  ASSERT_TRUE(document->RenderPage(0, 0, 0, 0, true, &pictures, &page));
  EXPECT_EQ(page.find("findloc"), std::string::npos);
}

TEST(Search, StartingAtTheLastSubjectTestsOnlyIt) {
  auto document = Open(Moons());
  uint64_t candidates;
  ASSERT_TRUE(document->BeginSearch(Query("ice"), 7, &candidates));
  EXPECT_EQ(candidates, 0u);  // the segments holding "ice" lie before it
  ASSERT_TRUE(document->BeginSearch(Query("io"), 7, &candidates));
  EXPECT_EQ(candidates, 1u);
  uint32_t current = 0;
  EXPECT_EQ(document->SearchStep(SearchDirection::kForwards, 5, &current), SearchStepResult::kFound);
  EXPECT_EQ(current, 7u);
  EXPECT_EQ(document->SubjectsTested(), 1u);
  EXPECT_EQ(document->SearchProgress(), 100);
}

TEST(Search, ACancelledFindAllInstallsNothing) {
  auto document = Open(Moons());
  // A result list to keep: the find-all below must not replace it.
  std::vector<uint32_t> earlier = FindAll(*document, Query("ice"));
  ASSERT_EQ(earlier, (std::vector<uint32_t>{1, 6}));
  SearchQuery query = Query("io");
  query.find_all = true;
  uint64_t candidates;
  ASSERT_TRUE(document->BeginSearch(query, 0, &candidates));
  uint32_t current = 0;
  while (document->SearchStep(SearchDirection::kForwards, 1, &current) != SearchStepResult::kFinished) {
  }
  document->CancelSearch();
  document->EndSearch();
  EXPECT_EQ(document->Results(), earlier);
  // A find-all without matches leaves the list as well.
  query.words[0] = "zebra";
  ASSERT_TRUE(document->BeginSearch(query, 0, &candidates));
  while (document->SearchStep(SearchDirection::kForwards, 1, &current) != SearchStepResult::kFinished) {
  }
  document->EndSearch();
  EXPECT_EQ(document->Results(), earlier);
}

TEST(Search, FindNextStaysInsideActiveResults) {
  auto document = Open(Moons());
  ASSERT_EQ(FindAll(*document, Query("ice")), (std::vector<uint32_t>{1, 6}));
  uint64_t candidates;
  ASSERT_TRUE(document->BeginSearch(Query("has"), 0, &candidates));
  uint32_t current = 0;
  SearchStepResult result;
  std::vector<uint32_t> found;
  while ((result = document->SearchStep(SearchDirection::kForwards, 5, &current)) !=
         SearchStepResult::kFinished) {
    if (result == SearchStepResult::kFound) found.push_back(current);
  }
  EXPECT_EQ(found, (std::vector<uint32_t>{1}));  // Titan "has" too, but is not listed
}

// The index never hides a match: for many random words, searching through
// the index finds exactly what matching every subject finds.
class IndexAgreement : public ::testing::Test {
 protected:
  static TestBookSpec Generated(uint32_t subjects, uint32_t segments, uint32_t seed) {
    static const char* kVocabulary[] = {
        "star",   "planet", "moon",  "orbit", "ring",  "comet", "dust",  "ice",   "gas",
        "Io",     "a",      "of",    "sun",   "Mars",  "mare",  "rim",   "crater", "x",
        "quasar", "nebula", "dwarf", "giant", "red",   "blue",  "halo",  "Zeta",  "zet"};
    std::mt19937 random(seed);
    std::vector<std::string> texts;
    for (uint32_t s = 0; s < subjects; ++s) {
      std::string text;
      const int words = 3 + static_cast<int>(random() % 40);
      for (int w = 0; w < words; ++w) {
        std::string word = kVocabulary[random() % std::size(kVocabulary)];
        if (random() % 7 == 0) word += kVocabulary[random() % std::size(kVocabulary)];
        if (random() % 9 == 0) word[0] = static_cast<char>(std::toupper(word[0]));
        text += word;
        switch (random() % 8) {
          case 0: text += ". "; break;
          case 1: text += Element(4) ; break;
          case 2: text += "\n"; break;
          case 3: text += Element(34, std::string("http://star.example/\0", 21)); break;
          default: text += ' ';
        }
      }
      texts.push_back(text);
    }
    TestBookSpec spec = testing::SimpleBook(texts);
    spec.segments = segments;
    return spec;
  }

  static std::vector<std::string> Words(const TestBookSpec& spec, uint32_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> words;
    while (words.size() < count) {
      const std::string& text = spec.subjects[random() % spec.subjects.size()].text;
      if (text.size() < 8) continue;
      const size_t at = random() % (text.size() - 6);
      std::string word = text.substr(at, 1 + random() % 6);
      if (word.find('\xFF') != std::string::npos) continue;
      if (random() % 5 == 0) word[0] = static_cast<char>(std::toupper(word[0]));
      if (random() % 11 == 0) word = "zz" + word;  // often absent
      words.push_back(word);
    }
    return words;
  }

  static std::vector<uint32_t> BruteForce(const TestBookSpec& spec, const SearchQuery& query) {
    std::vector<uint32_t> found;
    TextMatcher matcher(query, false);
    for (uint32_t s = 0; s < spec.subjects.size(); ++s) {
      matcher.Reset();
      matcher.Feed(spec.subjects[s].text);
      matcher.Finish();
      if (matcher.Verdict()) found.push_back(s);
    }
    return found;
  }

  static void Check(const TestBookSpec& spec, uint32_t word_count, uint32_t seed,
                    size_t least_narrowed) {
    auto document = Open(spec);
    const std::vector<std::string> words = Words(spec, word_count, seed);
    size_t narrowed = 0;
    for (size_t i = 0; i < words.size(); ++i) {
      SearchQuery query = Query(words[i]);
      query.whole_words = i % 2 == 0;
      query.match_case = i % 5 == 0;
      if (i % 3 == 0) {
        query.words[1] = words[(i + 1) % words.size()];
        query.operator2 = i % 6 == 0 ? SearchOperator::kOr : SearchOperator::kAnd;
      }
      const std::vector<uint32_t> expected = BruteForce(spec, query);
      ASSERT_EQ(FindAll(*document, query), expected.empty() ? std::vector<uint32_t>{} : expected)
          << "'" << query.words[0] << "' '" << query.words[1] << "' case " << query.match_case
          << " whole " << query.whole_words << " or " << (query.operator2 == SearchOperator::kOr)
          << " first " << (expected.empty() ? std::string() : spec.subjects[expected[0]].text);
      if (document->SubjectsTested() < spec.subjects.size()) ++narrowed;
      document->ClearResults();
    }
    // The index did skip subjects for many words.
    EXPECT_GE(narrowed, least_narrowed);
  }
};

TEST_F(IndexAgreement, SmallBookFewSegments) { Check(Generated(60, 8, 1), 300, 2, 0); }

TEST_F(IndexAgreement, LargerBookManySegments) { Check(Generated(3000, 512, 3), 300, 4, 100); }

}  // namespace
}  // namespace fvx::reader
