// The reader's speed on a large book: a generated source of at least 250 MB
// (100 000 subjects, two categories, links, a rare word in three subjects),
// compiled once into <build>/reader-bench-cache and kept there.
//
// Reports, before the timed benchmarks: the bytes and reads that opening
// takes, how many headings a lookup reads, the candidates of a rare-word
// search against a scan of every subject, and the cache sizes afterwards.
//
//   cmake --build build --target fvx_reader_bench && build/bench/fvx_reader_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "bench/bench_book.h"
#include "bookformat/byte_source.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"
#include "reader/text_matcher.h"

namespace {

using Clock = std::chrono::steady_clock;
using fvx::reader::BookDocument;

constexpr uint32_t kSubjects = 100000;
constexpr const char* kRareWord = "zqxjkvw";
constexpr uint32_t kRareSubjects[] = {1234, 55555, 98765};

double Milliseconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string CacheFolder() { return fvx::bench::BenchCacheFolder("reader-bench-cache"); }

// Pseudo-words from syllables: a vocabulary of a few thousand words whose
// frequencies fall off, as in real text.
std::vector<std::string> Vocabulary() {
  static const char* kSyllables[] = {"ka", "lo", "mi", "ren", "tas", "vo", "sel", "dor",
                                     "pi",  "nu", "gar", "the", "on", "ber", "li", "sa"};
  std::mt19937 random(1);
  std::vector<std::string> words = {"the", "of", "and", "a", "in", "is", "to", "river", "city"};
  while (words.size() < 4000) {
    std::string word;
    const int syllables = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < syllables; ++s) word += kSyllables[random() % 16];
    words.push_back(word);
  }
  return words;
}

bool WriteSource(const std::string& path) {
  const std::vector<std::string> words = Vocabulary();
  std::mt19937 random(2);
  std::geometric_distribution<int> rank(0.004);
  auto word = [&] { return words[std::min<size_t>(rank(random), words.size() - 1)]; };
  fvx::platform::File out = fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
  if (!out.IsOpen()) return false;
  std::string chunk =
      "<meta> title=\"Reader benchmark\" sortfile=no </meta>\n"
      "<catdef> name=\"Year\" type=numeric </catdef>\n"
      "<catdef> name=\"Region\" type=string </catdef>\n";
  for (uint32_t s = 0; s < kSubjects; ++s) {
    // Headings in no order: the book gets a sorted lookup section.
    chunk += "<new>" + word() + " " + word() + " " + std::to_string((s * 7919u) % kSubjects) + "\n";
    const int length = 2000 + static_cast<int>(random() % 1200);
    size_t start = chunk.size();
    int in_line = 0;
    while (chunk.size() - start < static_cast<size_t>(length)) {
      chunk += word();
      if (random() % 50 == 0) chunk += " <b>" + word() + "</b>";
      chunk += (++in_line % 14 == 0) ? ".\n" : " ";
    }
    for (uint32_t rare : kRareSubjects) {
      if (s == rare) chunk += std::string(" ") + kRareWord + ".\n";
    }
    if (s % 10 == 0 && s > 0) chunk += "See <a href=\"nothing here\">elsewhere</a>.\n";
    chunk += "<catset> Year=" + std::to_string(1800 + random() % 220) + " Region=r" +
             std::to_string(random() % 50) + " </catset>\n";
    if (chunk.size() > (1 << 22)) {
      if (!out.Write(chunk.data(), chunk.size())) return false;
      chunk.clear();
    }
  }
  return out.Write(chunk.data(), chunk.size());
}

// The book, compiled on first use.
std::string BenchBook() {
  return fvx::bench::CachedBenchBook(CacheFolder(), "reader_bench", WriteSource, true);
}

// Counts what a document reads from its file.
class CountingSource final : public fvx::format::ByteSource {
 public:
  CountingSource(std::unique_ptr<fvx::format::ByteSource> inner, uint64_t* bytes, uint64_t* reads)
      : inner_(std::move(inner)), bytes_(bytes), reads_(reads) {}
  uint64_t Size() const override { return inner_->Size(); }
  bool ReadAt(uint64_t position, void* out, size_t count) const override {
    *bytes_ += count;
    ++*reads_;
    return inner_->ReadAt(position, out, count);
  }

 private:
  std::unique_ptr<fvx::format::ByteSource> inner_;
  uint64_t* bytes_;
  uint64_t* reads_;
};

std::unique_ptr<BookDocument> OpenCounted(const std::string& path, uint64_t* bytes, uint64_t* reads) {
  auto document = std::make_unique<BookDocument>();
  fvx::platform::File file = fvx::platform::File::Open(path, fvx::platform::File::Mode::kRead);
  auto source = std::make_unique<CountingSource>(
      std::make_unique<fvx::format::FileByteSource>(std::move(file)), bytes, reads);
  fvx::reader::OpenCode code;
  if (!document->OpenSource(std::move(source), path, &code)) return nullptr;
  return document;
}

std::string g_book;
std::unique_ptr<BookDocument> g_document;
uint64_t g_bytes = 0, g_reads = 0;

BookDocument& Document() {
  if (!g_document) g_document = OpenCounted(g_book, &g_bytes, &g_reads);
  return *g_document;
}

std::vector<uint32_t> FindAll(BookDocument& document, const std::string& word, uint64_t* candidates) {
  fvx::reader::SearchQuery query;
  query.words[0] = word;
  query.find_all = true;
  document.ClearResults();
  (void)document.BeginSearch(query, 0, candidates);
  uint32_t current;
  while (document.SearchStep(fvx::reader::SearchDirection::kForwards, 5, &current) !=
         fvx::reader::SearchStepResult::kFinished) {
  }
  document.EndSearch();
  return document.HasResults() ? document.Results() : std::vector<uint32_t>{};
}

// What searching without the index costs: every subject's text, matched.
size_t ScanEverySubject(BookDocument& document, const std::string& word) {
  fvx::reader::SearchQuery query;
  query.words[0] = word;
  fvx::reader::TextMatcher matcher(query, false);
  size_t found = 0;
  for (uint32_t s = 0; s < document.SubjectCount(); ++s) {
    matcher.Reset();
    (void)document.ForEachTextPiece(s, [&](const uint8_t* bytes, size_t size) {
      matcher.Feed(bytes, size);
      return !matcher.Settled();
    });
    matcher.Finish();
    if (matcher.Verdict()) ++found;
  }
  return found;
}

void Report() {
  struct stat status {};
  stat(g_book.c_str(), &status);
  std::printf("book: %s, %.1f MB\n", g_book.c_str(), static_cast<double>(status.st_size) / 1e6);

  for (int round = 0; round < 3; ++round) {
    uint64_t bytes = 0, reads = 0;
    const auto start = Clock::now();
    auto document = OpenCounted(g_book, &bytes, &reads);
    const double ms = Milliseconds(start, Clock::now());
    if (!document) {
      std::printf("open FAILED\n");
      return;
    }
    std::printf("open: %.2f ms, %llu bytes in %llu reads (%u subjects, %u categories)\n", ms,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(reads),
                document->SubjectCount(), document->CategoryCount());
  }

  BookDocument& document = Document();
  std::mt19937 random(5);
  const uint32_t subject = random() % document.SubjectCount();
  const std::string heading(document.Heading(subject));
  const uint64_t lookup_reads = g_reads;
  const uint64_t headings_read = document.HeadingReads();
  const auto lookup_start = Clock::now();
  const std::optional<uint32_t> row = document.HeadingLookup(heading);
  std::printf("heading lookup of \"%s\": row %u in %.3f ms, %llu headings compared, %llu file "
              "reads (log2 n = %.1f)\n",
              heading.c_str(), row.value_or(0), Milliseconds(lookup_start, Clock::now()),
              static_cast<unsigned long long>(document.HeadingReads() - headings_read),
              static_cast<unsigned long long>(g_reads - lookup_reads),
              std::log2(static_cast<double>(document.SubjectCount())));

  uint64_t candidates = 0;
  const auto indexed_start = Clock::now();
  const std::vector<uint32_t> found = FindAll(document, kRareWord, &candidates);
  const double indexed = Milliseconds(indexed_start, Clock::now());
  const uint64_t tested = document.SubjectsTested();
  const auto scan_start = Clock::now();
  const size_t scanned = ScanEverySubject(document, kRareWord);
  const double scan = Milliseconds(scan_start, Clock::now());
  std::printf("rare word \"%s\": %zu subjects through the index in %.1f ms (%llu candidates, %llu "
              "tested); a scan of every subject finds %zu in %.1f ms: %.0fx faster\n",
              kRareWord, found.size(), indexed, static_cast<unsigned long long>(candidates),
              static_cast<unsigned long long>(tested), scanned, scan, scan / indexed);
  std::printf("caches: %zu of %zu table blocks, %zu of %zu content blocks; peak RSS %ld MB\n",
              document.table_cache()->NodeCount(), document.table_cache()->max_blocks(),
              document.content_cache()->NodeCount(), document.content_cache()->max_blocks(),
              PeakRssKb() / 1024);
  std::fflush(stdout);
}

void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    BookDocument document;
    fvx::reader::OpenCode code;
    benchmark::DoNotOptimize(document.Open(g_book, &code));
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);

void BM_HeadingOfAnySubject(benchmark::State& state) {
  BookDocument& document = Document();
  std::mt19937 random(3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(document.Heading(random() % document.SubjectCount()));
  }
}
BENCHMARK(BM_HeadingOfAnySubject)->Unit(benchmark::kMicrosecond);

void BM_RenderTypicalSubject(benchmark::State& state) {
  BookDocument& document = Document();
  document.ClearResults();
  std::mt19937 random(4);
  fvx::reader::PictureMap pictures(nullptr);
  std::string page;
  size_t bytes = 0;
  for (auto _ : state) {
    page.clear();
    const uint32_t row = *document.RowOfSubject(random() % document.SubjectCount());
    if (!document.RenderPage(row, 0, 0, 0, false, &pictures, &page)) {
      state.SkipWithError("a page could not be rendered");
      break;
    }
    bytes += page.size();
  }
  state.counters["page bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RenderTypicalSubject)->Unit(benchmark::kMillisecond);

void BM_HeadingLookup(benchmark::State& state) {
  BookDocument& document = Document();
  document.ClearResults();
  std::mt19937 random(6);
  std::vector<std::string> headings;
  for (int i = 0; i < 256; ++i) headings.emplace_back(document.Heading(random() % document.SubjectCount()));
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(document.HeadingLookup(headings[i++ % headings.size()]));
}
BENCHMARK(BM_HeadingLookup)->Unit(benchmark::kMicrosecond);

void BM_SearchRareWordIndexed(benchmark::State& state) {
  BookDocument& document = Document();
  uint64_t candidates = 0;
  for (auto _ : state) benchmark::DoNotOptimize(FindAll(document, kRareWord, &candidates));
  state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_SearchRareWordIndexed)->Unit(benchmark::kMillisecond);

void BM_ScanEverySubject(benchmark::State& state) {
  BookDocument& document = Document();
  for (auto _ : state) benchmark::DoNotOptimize(ScanEverySubject(document, kRareWord));
}
BENCHMARK(BM_ScanEverySubject)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  g_book = BenchBook();
  if (g_book.empty()) {
    std::fprintf(stderr, "reader bench: the benchmark book could not be made\n");
    return 1;
  }
  Report();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
