#include "compiler/backend/search_index.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "bookformat/coding.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/test_sinks.h"

namespace fvx::compiler {
namespace {

std::vector<std::string> KeysOf(const std::string& text) {
  std::vector<std::string> keys;
  ForEachRecordedKey(reinterpret_cast<const uint8_t*>(text.data()), text.size(), [&](uint32_t k) {
    std::string key = {static_cast<char>(k >> 16), static_cast<char>(k >> 8), static_cast<char>(k)};
    while (!key.empty() && key.back() == '\0') key.pop_back();
    keys.push_back(key);
  });
  return keys;
}

// A recorded element: 0xFF, u32 little-endian payload length, code, payload.
std::string Element(uint8_t code, const std::string& payload) {
  std::string out = "\xFF";
  const auto n = static_cast<uint32_t>(payload.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(n >> (8 * i)));
  out.push_back(static_cast<char>(code));
  return out + payload;
}

TEST(SearchKeysTest, WordsGiveWindowsShortWordsThemselves) {
  EXPECT_EQ(KeysOf("ab abc abcd"),
            (std::vector<std::string>{"ab", "abc", "abc", "bcd"}));
  // Only A-Z fold; 0xC9 stays as it is and is a word byte.
  EXPECT_EQ(KeysOf("Ab\xC9"), (std::vector<std::string>{"ab\xC9"}));
  // Punctuation and the high separators split words.
  EXPECT_EQ(KeysOf("x,y\xE0z"), (std::vector<std::string>{"x", "y", "z"}));
}

TEST(SearchKeysTest, ElementPayloadsGiveNoKeys) {
  const std::string text = "one" + Element(34, std::string("http://zzz\0", 11)) + "two" +
                           Element(1, std::string(8, 'q')) + Element(2, "");
  EXPECT_EQ(KeysOf(text), (std::vector<std::string>{"one", "two"}));
  // An element splits a word; a cut element ends the text.
  EXPECT_EQ(KeysOf("ab" + Element(4, "") + "cd"), (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(KeysOf(std::string("abc\xFF\x10\x00", 7)), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(KeysOf(std::string("abc\xFF\x01\x00\x00\x00\x09", 9)),
            (std::vector<std::string>{"abc"}));
}

// ---------------------------------------------------------------- plans and bytes

TEST(SegmentPlanTest, SegmentsFollowTheQuota) {
  // Spill 100, S = 8: quota 12; a segment closes once it holds more than 12.
  const std::vector<uint32_t> lengths = {10, 5, 20, 1, 1, 1, 50, 12};
  SegmentPlan plan = MakeSegmentPlan(5, lengths, 100);
  EXPECT_EQ(plan.segmentation, 8u);
  EXPECT_EQ(plan.segment_of, (std::vector<uint32_t>{0, 0, 1, 2, 2, 2, 2, 3}));
  EXPECT_EQ(plan.starts, (std::vector<uint32_t>{0, 2, 3, 7, 8, 8, 8, 8, 8}));
  EXPECT_EQ(plan.segment_count, 8u);
  EXPECT_EQ(plan.segment_end, (std::vector<uint32_t>{2, 3, 7, 8}));
}

TEST(SegmentPlanTest, UsedSegmentsDecideTheCount) {
  // 20 subjects of equal length over S = 64: 20 segments used, G = 24.
  SegmentPlan plan = MakeSegmentPlan(64, std::vector<uint32_t>(20, 10), 200);
  EXPECT_EQ(plan.segment_count, 24u);
  EXPECT_EQ(plan.starts[19], 19u);
  EXPECT_EQ(plan.starts[20], 20u);
  EXPECT_EQ(plan.starts[64], 20u);
  // More text in the spill file than in the subjects never passes S.
  SegmentPlan tight = MakeSegmentPlan(8, std::vector<uint32_t>(100, 1), 8);
  EXPECT_EQ(tight.segment_count, 8u);
  EXPECT_EQ(tight.segment_of.back(), 7u);
}

TEST(SearchIndexBytesTest, SmallIndexHasTheDocumentedLayout) {
  CSearchIndexBuilder builder;
  const std::vector<std::string> texts = {"ab", "abc ab"};
  ASSERT_TRUE(FeedSearchIndex(
      builder, 8, {2, 6}, 8,
      [&](uint32_t s, std::string* text) {
        *text = texts[s];
        return true;
      },
      [] { return true; }));
  StringSink sink;
  ASSERT_TRUE(builder.Serialize(sink));
  std::string expected;
  // quota 1: subject 1 opens segment 1; G = 8.
  for (uint32_t start : {0u, 1u, 2u, 2u, 2u, 2u, 2u, 2u, 2u}) format::PutU32(&expected, start);
  expected += std::string("ab\0abc", 6);
  expected += "\x03\x02";  // "ab" in segments 0 and 1, "abc" in segment 1
  expected += std::string(1, '\0');
  EXPECT_EQ(sink.bytes, expected);
  EXPECT_EQ(builder.KeyCount(), 2u);
  EXPECT_EQ(builder.Efficiency(), 81u);  // 13 clear bits of 16
}

// Recorded texts with words from a small vocabulary, elements and empty
// subjects, so that keys recur across segments and some subjects are dense.
std::vector<std::string> RandomCorpus(uint32_t subjects, uint32_t seed) {
  std::mt19937 random(seed);
  const char* words[] = {"the", "a", "Index", "of", "zebra", "q", "Quartz", "\xC9t\xE9",
                         "ox",  "lorem", "ipsum", "dolor", "sit", "AMET", "x1", "42"};
  std::vector<std::string> texts;
  for (uint32_t s = 0; s < subjects; ++s) {
    std::string text;
    const int count = static_cast<int>(random() % 30);
    if (random() % 7 == 0) {
      texts.push_back(text);
      continue;
    }
    for (int w = 0; w < count; ++w) {
      text += words[random() % 16];
      if (random() % 5 == 0) text += std::to_string(random() % 1000);
      switch (random() % 6) {
        case 0: text += Element(1, std::string("\x01\0\0\0\0\0\0\0", 8)); break;
        case 1: text += ", "; break;
        default: text += " "; break;
      }
    }
    texts.push_back(text);
  }
  return texts;
}

TEST(SearchIndexBytesTest, FastPathGivesThePlainBytes) {
  for (uint32_t subjects : {0u, 1u, 7u, 150u, 700u}) {
    const std::vector<std::string> texts = RandomCorpus(subjects, subjects + 1);
    std::vector<uint32_t> lengths;
    uint64_t spill = 0;
    SearchKeyPostings postings(subjects);
    for (uint32_t s = 0; s < subjects; ++s) {
      lengths.push_back(static_cast<uint32_t>(texts[s].size()));
      spill += texts[s].size();
      postings.AddSubject(s, reinterpret_cast<const uint8_t*>(texts[s].data()), texts[s].size());
    }
    for (uint32_t segmentation : {1u, 8u, 13u, 64u, 200u, 1024u}) {
      SCOPED_TRACE(testing::Message() << subjects << " subjects, S " << segmentation);
      CSearchIndexBuilder builder;
      ASSERT_TRUE(FeedSearchIndex(
          builder, segmentation, lengths, spill,
          [&](uint32_t s, std::string* text) {
            *text = texts[s];
            return true;
          },
          [] { return true; }));
      StringSink plain;
      ASSERT_TRUE(builder.Serialize(plain));

      const SegmentPlan plan = MakeSegmentPlan(segmentation, lengths, spill);
      StringSink fast;
      IndexFigures figures;
      ASSERT_TRUE(postings.Serialize(plan, fast, &figures, [] { return true; }));
      EXPECT_EQ(fast.bytes, plain.bytes);
      EXPECT_EQ(figures.segment_count, builder.SegmentCount());
      EXPECT_EQ(figures.key_count, builder.KeyCount());
      EXPECT_EQ(figures.efficiency, builder.Efficiency());
      EXPECT_EQ(plan.starts, builder.SegmentStarts());
    }
  }
}

TEST(SearchIndexBytesTest, DenseKeysGiveThePlainBytes) {
  // One key in every subject turns its subject list into a bit map.
  const uint32_t subjects = 3000;
  std::vector<std::string> texts;
  std::vector<uint32_t> lengths;
  SearchKeyPostings postings(subjects);
  for (uint32_t s = 0; s < subjects; ++s) {
    texts.push_back("common " + std::string(s % 3 == 0 ? "rare" : "") + std::to_string(s % 50));
    lengths.push_back(static_cast<uint32_t>(texts.back().size()));
    postings.AddSubject(s, reinterpret_cast<const uint8_t*>(texts[s].data()), texts[s].size());
  }
  uint64_t spill = 0;
  for (uint32_t length : lengths) spill += length;
  for (uint32_t segmentation : {64u, 512u, 2999u, 5000u}) {
    CSearchIndexBuilder builder;
    ASSERT_TRUE(FeedSearchIndex(
        builder, segmentation, lengths, spill,
        [&](uint32_t s, std::string* text) {
          *text = texts[s];
          return true;
        },
        [] { return true; }));
    StringSink plain;
    ASSERT_TRUE(builder.Serialize(plain));
    StringSink fast;
    ASSERT_TRUE(postings.Serialize(MakeSegmentPlan(segmentation, lengths, spill), fast, nullptr,
                                   [] { return true; }));
    EXPECT_EQ(fast.bytes, plain.bytes) << "S " << segmentation;
  }
}

TEST(SearchIndexBytesTest, CancelledFeedingFails) {
  CSearchIndexBuilder builder;
  int asked = 0;
  EXPECT_FALSE(FeedSearchIndex(
      builder, 8, {1, 1, 1}, 3,
      [](uint32_t, std::string* text) {
        *text = "a";
        return true;
      },
      [&] { return ++asked < 2; }));
  EXPECT_FALSE(FeedSearchIndex(
      builder, 8, {1}, 1, [](uint32_t, std::string*) { return false; }, [] { return true; }));
}

// ---------------------------------------------------------------- choosing S

class ChooseSegmentationTest : public ::testing::Test {
 protected:
  ChooseSegmentationTest() : context_(&sink_, nullptr, &options_) { context_.SetRunning(true); }

  // Scripted trials: the overhead of a segmentation x is x / scale percent
  // of the book (P = 1000), efficiency as given.
  SegmentationTrial Script(double percent_per_segment, uint32_t efficiency = 50) {
    return [=, this](uint32_t x, TrialResult* result) {
      trials_.push_back(x);
      result->segment_count = RoundSegmentation(x);
      const double share = std::min(99.0, x * percent_per_segment) / 100.0;
      // X / (P + X) = share  =>  X = share P / (1 - share)
      result->compressed_bytes = static_cast<uint64_t>(share * 1000000 / (1 - share) + 0.5);
      result->efficiency = efficiency;
      return true;
    };
  }

  RecordingMessageSink sink_;
  FixedOptions options_;
  CompileContext context_;
  std::vector<uint32_t> trials_;
};

TEST_F(ChooseSegmentationTest, FixedSegmentationIsHonouredAndReduced) {
  options_.fixed_segmentation = true;
  options_.segmentation = 1000;
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 5000, 1, Script(1), &chosen));
  EXPECT_EQ(chosen, 1000u);
  ASSERT_TRUE(ChooseSegmentation(context_, 300, 1, Script(1), &chosen));
  EXPECT_EQ(chosen, 300u);
  EXPECT_TRUE(trials_.empty());
  EXPECT_TRUE(sink_.lines.empty());
}

TEST_F(ChooseSegmentationTest, FewSubjectsRunOneTrial) {
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 40, 1000000, Script(0.001), &chosen));
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64}));
  EXPECT_EQ(chosen, 64u);
  EXPECT_TRUE(sink_.Has(Level::kInformation, "Segmentation = 64 Selected."));
}

TEST_F(ChooseSegmentationTest, AFirstTrialOverTheLimitsKeeps64) {
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 100000, 1000000, Script(1), &chosen));  // 64 %
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64}));
  EXPECT_EQ(chosen, 64u);
  trials_.clear();
  ASSERT_TRUE(ChooseSegmentation(context_, 100000, 1000000, Script(0.0001, 91), &chosen));
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64}));
  EXPECT_EQ(chosen, 64u);
}

TEST_F(ChooseSegmentationTest, GrowthThenBisection) {
  // 10 % is reached at x = 1000: growth 64..1024, then bisection in [512, 1024].
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 100000, 1000000, Script(0.01), &chosen));
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64, 128, 256, 512, 1024, 768, 896, 960, 992}));
  EXPECT_EQ(chosen, 992u);
  EXPECT_TRUE(sink_.Has(Level::kInformation, "Analyzing text for segmentation 1024..."));
  EXPECT_TRUE(sink_.Has(Level::kInformation, "Segmentation = 1024. Overhead = 10.24%. Efficiency = 50%."));
  EXPECT_TRUE(sink_.Has(Level::kInformation, "Segmentation = 992 Selected."));
  EXPECT_EQ(sink_.lines.front().second,
            "Analyzing subject data in order to find out the best search index configuration.");
}

TEST_F(ChooseSegmentationTest, GrowthStepsBy4096PastIt) {
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 100000, 1000000, Script(0.0008), &chosen));  // 12500
  EXPECT_EQ(std::vector<uint32_t>(trials_.begin(), trials_.begin() + 10),
            (std::vector<uint32_t>{64, 128, 256, 512, 1024, 2048, 4096, 8192, 12288, 16384}));
  EXPECT_EQ(trials_[10], 14336u);  // the bisection of [12288, 16384]
  EXPECT_GE(chosen, 12288u);
  EXPECT_LT(chosen, 12600u);
}

TEST_F(ChooseSegmentationTest, GrowthStopsAtTheSubjectCountAndBisectsBelowIt) {
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 300, 1000000, Script(0.0001), &chosen));
  // 64, 128, 256, 512 >= 300 stops; [256, 300] is narrower than 64.
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64, 128, 256}));
  EXPECT_EQ(chosen, 256u);
  trials_.clear();
  ASSERT_TRUE(ChooseSegmentation(context_, 400, 1000000, Script(0.0001), &chosen));
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64, 128, 256, 328, 364}));
  EXPECT_EQ(chosen, 368u);
}

TEST_F(ChooseSegmentationTest, OverheadExactlyAtTheLimitKeepsGrowingAndEndsBisection) {
  const SegmentationTrial exact = [this](uint32_t x, TrialResult* result) {
    trials_.push_back(x);
    result->segment_count = RoundSegmentation(x);
    // 10 % exactly from 256 on: X / (P + X) = 1/10 with P = 900.
    result->compressed_bytes = x >= 256 ? 100 : 1;
    result->efficiency = 10;
    return true;
  };
  uint32_t chosen = 0;
  ASSERT_TRUE(ChooseSegmentation(context_, 1000, 900, exact, &chosen));
  // Growth keeps going through 256, 512 (equal is not above); 1024 >= 1000 stops.
  // Bisection: lo 512, hi 1000 -> x 756 equals the limit and stops.
  EXPECT_EQ(trials_, (std::vector<uint32_t>{64, 128, 256, 512, 756}));
  EXPECT_EQ(chosen, 760u);
}

TEST_F(ChooseSegmentationTest, AFailingTrialFails) {
  uint32_t chosen = 0;
  EXPECT_FALSE(ChooseSegmentation(
      context_, 1000, 1, [](uint32_t, TrialResult*) { return false; }, &chosen));
}

}  // namespace
}  // namespace fvx::compiler
