// The local word index on a dictionary-sized book: a generated source of
// 160 000 subjects and about 43 MB of text, compiled once into
// <build>/word-index-bench-cache and kept there, with its index in
// FVX_HOME=<cache>/home.
//
// Reports the index build (MB of text per second, one thread), the index
// size against the book, and for each query class the engine time of
// find-all and of the first hit, with the local index and with the book's
// own index only (medians of several runs; the index's one-off open and
// checksum check are reported apart).
//
//   cmake --build build --target fvx_word_index_bench && build/bench/fvx_word_index_bench
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_book.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "reader/book_document.h"
#include "reader/word_index.h"
#include "reader/word_index_build.h"

namespace {

using Clock = std::chrono::steady_clock;
using fvx::reader::BookDocument;
using fvx::reader::SearchQuery;

constexpr uint32_t kSubjects = 160000;
// Planted words: rare (3 subjects), about 1 %, about 35 %, two of about
// 5 % each, and a rare word made only of the commonest letter runs.
constexpr const char* kRare = "zqxjkvw";
constexpr const char* kOnePercent = "kelvarin";
constexpr const char* kThirtyPercent = "morwenna";
constexpr const char* kFivePercentA = "dunmorel";
constexpr const char* kFivePercentB = "vestryal";
constexpr const char* kCommonRuns = "kalomirenthe";

// This thread's processor time: the machine may be shared with other work.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Milliseconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string CacheFolder() { return fvx::bench::BenchCacheFolder("word-index-bench-cache"); }

std::vector<std::string> Vocabulary() {
  static const char* kSyllables[] = {"ka", "lo", "mi",  "ren", "tas", "vo",  "sel", "dor",
                                     "pi", "nu", "gar", "the", "on",  "ber", "li",  "sa"};
  std::mt19937 random(1);
  std::vector<std::string> words = {"the", "of", "and", "a", "in", "is", "to", "river", "city"};
  while (words.size() < 60000) {
    std::string word;
    const int syllables = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < syllables; ++s) word += kSyllables[random() % 16];
    if (random() % 3 == 0) word += static_cast<char>('a' + random() % 26);
    words.push_back(word);
  }
  return words;
}

bool WriteSource(const std::string& path) {
  const std::vector<std::string> words = Vocabulary();
  std::mt19937 random(2);
  // Zipf-like ranks over a vocabulary large enough for a real dictionary.
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto word = [&]() -> const std::string& {
    const double r = std::pow(static_cast<double>(words.size()), unit(random)) - 1;
    return words[std::min<size_t>(static_cast<size_t>(r), words.size() - 1)];
  };
  fvx::platform::File out =
      fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
  if (!out.IsOpen()) return false;
  std::string chunk = "<meta> title=\"Word index benchmark\" sortfile=no </meta>\n";
  for (uint32_t s = 0; s < kSubjects; ++s) {
    chunk += "<new>" + word() + " " + word() + " " + std::to_string(s) + "\n";
    const int length = 60 + static_cast<int>(random() % 420);
    const size_t start = chunk.size();
    int in_line = 0;
    while (chunk.size() - start < static_cast<size_t>(length)) {
      chunk += word();
      if (random() % 60 == 0) chunk += " <b>" + word() + "</b>";
      chunk += (++in_line % 14 == 0) ? ".\n" : (random() % 9 == 0 ? ", " : " ");
    }
    if (s == 1234 || s == 77777 || s == 150001) chunk += std::string(" ") + kRare + ".";
    if (s == 4321 || s == 123456) chunk += std::string(" ") + kCommonRuns + ".";
    if (s % 100 == 37) chunk += std::string(" ") + kOnePercent + ".";
    if (random() % 100 < 35) chunk += std::string(" ") + kThirtyPercent + ".";
    if (random() % 100 < 5) chunk += std::string(" ") + kFivePercentA + ".";
    if (random() % 100 < 5) chunk += std::string(" ") + kFivePercentB + ".";
    chunk += "\n";
    if (chunk.size() > (1 << 22)) {
      if (!out.Write(chunk.data(), chunk.size())) return false;
      chunk.clear();
    }
  }
  return out.Write(chunk.data(), chunk.size());
}

std::string BenchBook() {
  return fvx::bench::CachedBenchBook(CacheFolder(), "word_index_bench", WriteSource, false);
}

struct Timing {
  double find_all_ms = 0;
  double first_hit_ms = 0;
  size_t found = 0;
  uint64_t candidates = 0;
  uint64_t inflated = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Timing Measure(BookDocument& document, SearchQuery query, int runs) {
  Timing timing;
  std::vector<double> all, first;
  for (int run = 0; run < runs; ++run) {
    query.find_all = true;
    document.LeaveTree();
    auto start = Clock::now();
    (void)document.BeginSearch(query, 0, nullptr);
    uint32_t current = 0;
    while (document.SearchStep(fvx::reader::SearchDirection::kForwards, 16, &current) ==
           fvx::reader::SearchStepResult::kContinue) {
    }
    document.EndSearch();
    all.push_back(Milliseconds(start, Clock::now()));
    timing.found = document.HasResults() ? document.Results().size() : 0;
    timing.candidates = document.LastSearch().candidates;
    timing.inflated = document.LastSearch().inflated;
    document.LeaveTree();
    query.find_all = false;
    start = Clock::now();
    (void)document.BeginSearch(query, 0, nullptr);
    while (document.SearchStep(fvx::reader::SearchDirection::kForwards, 16, &current) ==
           fvx::reader::SearchStepResult::kContinue) {
    }
    first.push_back(Milliseconds(start, Clock::now()));
  }
  timing.find_all_ms = Median(all);
  timing.first_hit_ms = Median(first);
  return timing;
}

SearchQuery Query(std::string a, std::string b = {}) {
  SearchQuery query;
  query.words = {std::move(a), std::move(b), {}};
  return query;
}

}  // namespace

int main() {
  const std::string book = BenchBook();
  if (book.empty()) {
    std::fprintf(stderr, "word index bench: the book could not be made\n");
    return 1;
  }
  const std::string home = CacheFolder() + "/home";
  setenv("FVX_HOME", home.c_str(), 1);
  BookDocument document;
  fvx::reader::OpenCode code;
  if (!document.Open(book, &code)) return 1;
  struct stat status {};
  stat(book.c_str(), &status);
  const double book_mb = static_cast<double>(status.st_size) / 1e6;
  const double text_mb = static_cast<double>(document.layout().positions.text_total) / 1e6;
  std::printf("book: %u subjects, %.1f MB of text, file %.1f MB\n", document.SubjectCount(),
              text_mb, book_mb);

  const std::string index = fvx::reader::WordIndexPath(document.BookId());
  fvx::reader::DropWordIndex(document.BookId());
  {
    BookDocument builder;
    if (!builder.Open(book, &code)) return 1;
    std::string error;
    const auto start = Clock::now();
    const double cpu_start = CpuSeconds();
    if (fvx::reader::BuildWordIndex(builder, index, {}, &error) !=
        fvx::reader::WordIndexBuildStatus::kBuilt) {
      std::fprintf(stderr, "build failed: %s\n", error.c_str());
      return 1;
    }
    const double cpu = CpuSeconds() - cpu_start;
    const double seconds = Milliseconds(start, Clock::now()) / 1000;
    stat(index.c_str(), &status);
    const double index_mb = static_cast<double>(status.st_size) / 1e6;
    std::printf(
        "index build: %.2f s of one core's time, %.1f MB of text/s (target >= 10); "
        "%.2f s elapsed (%.1f MB/s)\n",
        cpu, text_mb / cpu, seconds, text_mb / seconds);
    std::printf("index size: %.1f MB = %.2f x the book (target <= 0.6)\n", index_mb,
                index_mb / book_mb);
  }
  {
    const auto start = Clock::now();
    const double cpu_start = CpuSeconds();
    document.ReloadWordIndex();
    (void)Measure(document, Query(kRare), 1);
    std::printf(
        "first search after open (index open + checksum check): %.1f ms elapsed, %.1f ms "
        "of one core\n",
        Milliseconds(start, Clock::now()), (CpuSeconds() - cpu_start) * 1000);
  }

  struct Class {
    const char* name;
    SearchQuery query;
    double all_target;
  };
  const std::vector<Class> classes = {
      {"rare word (3 subjects)", Query(kRare), 5},
      {"word in ~1% of subjects", Query(kOnePercent), 5},
      {"word in ~35% of subjects", Query(kThirtyPercent), 50},
      {"AND of two ~5% words", Query(kFivePercentA, kFivePercentB), 5},
      {"AND of ~35% and ~1% words", Query(kThirtyPercent, kOnePercent), 5},
      {"rare word of common runs (2)", Query(kCommonRuns), 5},
      {"headings-only common word",
       [] {
         SearchQuery q = Query("the");
         q.headings_only = true;
         return q;
       }(),
       50},
      {"case-sensitive ~1% word",
       [] {
         SearchQuery q = Query(kOnePercent);
         q.match_case = true;
         return q;
       }(),
       0},
      {"substring 'lvari' (~1%)",
       [] {
         SearchQuery q = Query("lvari");
         q.whole_words = false;
         return q;
       }(),
       0},
  };
  std::printf("\n%-30s %10s %10s %10s %10s  %9s %9s  %s\n", "query class", "all+idx", "all-idx",
              "first+idx", "first-idx", "found", "cand-idx", "target (find-all)");
  BookDocument plain;
  if (!plain.Open(book, &code)) return 1;
  plain.SetWordIndexUse(false);
  for (const Class& c : classes) {
    const Timing with = Measure(document, c.query, 7);
    const fvx::reader::SearchExplanation how = document.LastSearch();
    const Timing without = Measure(plain, c.query, 3);
    std::printf("%-30s %8.2fms %8.2fms %8.2fms %8.2fms  %9zu %9llu  %s%s\n", c.name,
                with.find_all_ms, without.find_all_ms, with.first_hit_ms, without.first_hit_ms,
                with.found, static_cast<unsigned long long>(without.candidates),
                c.all_target > 0
                    ? ("<= " + std::to_string(static_cast<int>(c.all_target)) + " ms").c_str()
                    : "-",
                how.word_index_used ? (how.exact ? " [exact]" : " [candidates]") : " [NOT USED]");
    if (with.found != without.found)
      std::printf("  MISMATCH: %zu vs %zu\n", with.found, without.found);
  }
  return 0;
}
