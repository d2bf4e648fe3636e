// The local word index against the book's own index: every generated query
// must give the same subjects, the same first hit and the same hits with
// and without it; and an index that is damaged, foreign, incomplete or
// half-built is never used.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "compiler/app/testing/compile_for_test.h"
#include "platform/testing/command_output.h"
#include "reader/book_document.h"
#include "reader/word_index.h"
#include "reader/word_index_build.h"
#include "reader/word_tokenizer.h"

namespace fvx::reader {
namespace {

using compiler::testing::CompiledBook;
using compiler::testing::CompileSource;

// Word shapes the tokenizer and the matcher could disagree on: bytes of
// 0x80 and above (some of them separators), digits, NUL-free controls.
std::vector<std::string> Vocabulary() {
  static const char* kSyllables[] = {"ka",  "lo",  "mi", "ren", "tas",  "vo",
                                     "sel", "dor", "pi", "nu",  "gar",  "the",
                                     "on",  "ber", "li", "sa",  "\xE9", "\xC3\xB6"};
  std::mt19937 random(11);
  std::vector<std::string> words = {"the",  "of", "and",     "a",        "in", "is",  "to",
                                    "1999", "3",  "caf\xE9", "na\xEFve", "x2", "B52", "\xA0nbsp"};
  while (words.size() < 3000) {
    std::string word;
    const int syllables = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < syllables; ++s) word += kSyllables[random() % 18];
    if (random() % 10 == 0) word += std::to_string(random() % 100);
    words.push_back(word);
  }
  return words;
}

struct Generated {
  std::string source;
  std::vector<std::string> words;
};

// A book of 5 000 subjects: Zipf-like word frequencies, capitals, joints of
// punctuation and of separator bytes, elements inside words, anchors.
Generated GenerateBook(uint32_t subjects) {
  Generated book;
  book.words = Vocabulary();
  std::mt19937 random(12);
  std::geometric_distribution<int> rank(0.01);
  auto word = [&] {
    std::string w = book.words[std::min<size_t>(rank(random), book.words.size() - 1)];
    if (random() % 8 == 0 && !w.empty() && w[0] >= 'a' && w[0] <= 'z')
      w[0] = static_cast<char>(w[0] - 32);
    if (random() % 40 == 0) {
      for (char& c : w) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
    }
    return w;
  };
  static const char* kJoints[] = {" ", " ",  " ",  " ", ", ", ". ", "-",    "/",    "'",
                                  "(", ") ", ": ", ";", "\"", "_",  "\xE1", "\xFC", "\n"};
  for (uint32_t s = 0; s < subjects; ++s) {
    std::string heading = word() + " " + word();
    if (s % 7 == 0) heading += "-" + word();
    if (s % 5 == 0) heading += " " + std::to_string(s);
    book.source += "<new>" + heading + "\n";
    const int length = 5 + static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      const uint32_t kind = random() % 60;
      if (kind == 0) {
        // An element inside a word.
        const std::string w = word();
        const size_t cut = w.size() / 2;
        book.source += w.substr(0, cut) + "<b>" + w.substr(cut) + "</b>";
      } else if (kind == 1) {
        book.source += "<a name=\"n" + std::to_string(i) + "\">" + word() + "</a>";
      } else if (kind == 2) {
        book.source += "<i>" + word() + "</i>" + word();
      } else if (kind == 3) {
        book.source += "<a href=\"" + word() + "\">" + word() + "</a>";
      } else {
        book.source += word();
      }
      book.source += kJoints[random() % 18];
    }
    book.source += "\n";
  }
  return book;
}

class WordIndexTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new std::string(::testing::TempDir() + "word_index_home_" + std::to_string(getpid()));
    setenv("FVX_HOME", home_->c_str(), 1);
    // FVX_WORD_INDEX_SUBJECTS and FVX_WORD_INDEX_QUERIES make a larger run by hand.
    const char* subjects = std::getenv("FVX_WORD_INDEX_SUBJECTS");
    generated_ = new Generated(GenerateBook(subjects ? std::strtoul(subjects, nullptr, 10) : 5000));
    book_ = new CompiledBook(CompileSource(generated_->source));
  }
  static void TearDownTestSuite() {
    delete book_;
    delete generated_;
    std::system(("rm -rf '" + *home_ + "'").c_str());
    delete home_;
  }

  void SetUp() override {
    ASSERT_TRUE(book_->ok);
    OpenCode code;
    ASSERT_TRUE(document_.Open(book_->book_path, &code));
  }

  std::string IndexPath() { return WordIndexPath(document_.BookId()); }

  void Build() {
    std::string error;
    ASSERT_EQ(BuildWordIndex(document_, IndexPath(), {}, &error), WordIndexBuildStatus::kBuilt)
        << error;
    document_.ReloadWordIndex();
  }

  static std::string* home_;
  static Generated* generated_;
  static CompiledBook* book_;
  BookDocument document_;
};

std::string* WordIndexTest::home_ = nullptr;
Generated* WordIndexTest::generated_ = nullptr;
CompiledBook* WordIndexTest::book_ = nullptr;

struct Outcome {
  std::vector<uint32_t> all;
  // Find-next from a start: the subjects found forwards, then backwards,
  // each with its hits.
  std::vector<std::pair<uint32_t, std::vector<Hit>>> steps;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << outcome.all.size() << " subjects:";
  for (size_t i = 0; i < outcome.all.size() && i < 20; ++i) *out << ' ' << outcome.all[i];
  *out << "; steps:";
  for (const auto& [subject, hits] : outcome.steps) {
    *out << ' ' << subject << '(';
    for (const Hit& hit : hits) *out << hit.start << '-' << hit.end << '/' << hit.word << ' ';
    *out << ')';
  }
}

std::vector<uint32_t> FindAll(BookDocument& document, SearchQuery query) {
  query.find_all = true;
  document.LeaveTree();
  if (!document.BeginSearch(query, 0, nullptr)) return {};
  uint32_t current;
  while (document.SearchStep(SearchDirection::kForwards, 7, &current) ==
         SearchStepResult::kContinue) {
  }
  document.EndSearch();
  return document.HasResults() ? document.Results() : std::vector<uint32_t>{};
}

Outcome RunQuery(BookDocument& document, const SearchQuery& query, uint32_t start,
                 SearchExplanation* find_all_explanation = nullptr) {
  Outcome outcome;
  outcome.all = FindAll(document, query);
  if (find_all_explanation != nullptr) *find_all_explanation = document.LastSearch();
  document.LeaveTree();
  SearchQuery next = query;
  next.find_all = false;
  if (!document.BeginSearch(next, start, nullptr)) return outcome;
  for (SearchDirection direction : {SearchDirection::kForwards, SearchDirection::kBackwards}) {
    // As the window does: a reversed walk goes on from the subject shown.
    if (!outcome.steps.empty()) document.SetSearchPosition(outcome.steps.back().first);
    for (int found = 0; found < 2;) {
      uint32_t current = 0;
      const SearchStepResult result = document.SearchStep(direction, 50, &current);
      if (result == SearchStepResult::kFinished) break;
      if (result == SearchStepResult::kFound) {
        outcome.steps.emplace_back(current, document.Hits());
        ++found;
      }
    }
  }
  return outcome;
}

std::string Describe(const SearchQuery& query) {
  std::ostringstream out;
  for (const std::string& w : query.words) {
    out << '[';
    for (unsigned char c : w) {
      if (c >= 0x20 && c < 0x7F) {
        out << c;
      } else {
        out << "\\x" << std::hex << int{c} << std::dec;
      }
    }
    out << ']';
  }
  out << (query.operator2 == SearchOperator::kOr ? " or2" : "")
      << (query.operator3 == SearchOperator::kOr ? " or3" : "")
      << (query.headings_only ? " headings" : "") << (query.match_case ? " case" : "")
      << (query.whole_words ? "" : " substring");
  return out.str();
}

// Queries of every class, from the book's own words.
std::vector<SearchQuery> GenerateQueries(const std::vector<std::string>& words, size_t count,
                                         uint32_t seed) {
  std::mt19937 random(seed);
  std::geometric_distribution<int> rank(0.01);
  auto pick = [&]() -> std::string {
    const uint32_t kind = random() % 10;
    if (kind == 0) return words[random() % words.size()];        // rare ones too
    if (kind == 1) return "zz" + std::to_string(random() % 50);  // missing
    return words[std::min<size_t>(rank(random), words.size() - 1)];
  };
  auto shape = [&](std::string w) {
    switch (random() % 14) {
      case 0:
        for (char& c : w) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        break;
      case 1:
        return w + ",";
      case 2:
        return "(" + w;
      case 3:
        return w + "-" + pick();
      case 4:
        return w.substr(0, std::max<size_t>(1, w.size() / 2));
      case 5:
        return w.size() > 2 ? w.substr(1) : w;
      case 6:
        return w.size() > 3 ? w.substr(1, w.size() - 2) : w;
      case 7:
        return w + "\xE1" + pick();
      case 8:
        return w + " " + pick();
      case 9:
        if (!w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 32);
        break;
      default:
        break;
    }
    return w;
  };
  std::vector<SearchQuery> queries;
  while (queries.size() < count) {
    SearchQuery query;
    const int n = 1 + static_cast<int>(random() % 6 == 0 ? 2 : random() % 2);
    for (int w = 0; w < n; ++w) query.words[w] = shape(pick());
    query.operator2 = random() % 2 ? SearchOperator::kOr : SearchOperator::kAnd;
    query.operator3 = random() % 2 ? SearchOperator::kOr : SearchOperator::kAnd;
    query.headings_only = random() % 6 == 0;
    query.match_case = random() % 6 == 0;
    query.whole_words = random() % 4 != 0;
    if (query.words[0].empty()) continue;
    queries.push_back(std::move(query));
  }
  return queries;
}

SearchQuery Words(std::string w1, std::string w2 = {}) {
  SearchQuery query;
  query.words = {std::move(w1), std::move(w2), {}};
  return query;
}

size_t QueryCount() {
  if (const char* count = std::getenv("FVX_WORD_INDEX_QUERIES"))
    return std::strtoul(count, nullptr, 10);
#if defined(__SANITIZE_ADDRESS__)
  return 200;  // the sanitizer build checks memory, not coverage
#else
  return 2000;
#endif
}

TEST_F(WordIndexTest, EveryQueryGivesTheSameSubjectsAndHits) {
  Build();
  BookDocument plain;
  OpenCode code;
  ASSERT_TRUE(plain.Open(book_->book_path, &code));
  plain.SetWordIndexUse(false);
  const std::vector<SearchQuery> queries = GenerateQueries(generated_->words, QueryCount(), 21);
  std::mt19937 random(22);
  size_t exact = 0, narrowed = 0, nonempty = 0;
  for (const SearchQuery& query : queries) {
    const uint32_t start = random() % document_.SubjectCount();
    SearchExplanation how;
    const Outcome with = RunQuery(document_, query, start, &how);
    const Outcome without = RunQuery(plain, query, start);
    ASSERT_EQ(with, without) << Describe(query) << " from " << start;
    ASSERT_FALSE(plain.LastSearch().word_index_used);
    exact += how.exact;
    narrowed += how.word_index_used;
    nonempty += !with.all.empty();
  }
  // The queries must exercise the index, not slip past it.
  EXPECT_GT(exact, queries.size() / 5);
  EXPECT_GT(narrowed, queries.size() * 2 / 3);
  EXPECT_GT(nonempty, queries.size() / 2);
}

// Find-next fetches its candidates from the index a window at a time: a
// walk over every match, forwards from a start and back again, must meet
// the same subjects as without the index.
TEST_F(WordIndexTest, FindNextWalksEveryMatchBothWays) {
  Build();
  BookDocument plain;
  OpenCode code;
  ASSERT_TRUE(plain.Open(book_->book_path, &code));
  plain.SetWordIndexUse(false);
  auto walk = [](BookDocument& document, const SearchQuery& query, uint32_t start) {
    std::vector<uint32_t> met;
    document.LeaveTree();
    if (!document.BeginSearch(query, start, nullptr)) return met;
    for (SearchDirection direction : {SearchDirection::kForwards, SearchDirection::kBackwards}) {
      if (!met.empty()) document.SetSearchPosition(met.back());
      uint32_t current = 0;
      SearchStepResult result;
      while ((result = document.SearchStep(direction, 1000, &current)) !=
             SearchStepResult::kFinished) {
        if (result == SearchStepResult::kFound) met.push_back(current);
      }
    }
    return met;
  };
  for (const char* word : {"the", "of", "ka", "zz1"}) {
    for (uint32_t start : {0u, 1234u, 4999u}) {
      for (bool match_case : {false, true}) {
        SearchQuery query = Words(word);
        query.match_case = match_case;
        const std::vector<uint32_t> with = walk(document_, query, start);
        EXPECT_EQ(document_.LastSearch().word_index_used, !match_case);
        EXPECT_EQ(with, walk(plain, query, start)) << word << " from " << start;
      }
    }
  }
}

TEST_F(WordIndexTest, TokenizerCutsAsTheMatcherDoes) {
  std::vector<std::string> words;
  const std::string text =
      std::string("Ab,c\xE1") + "d\xFF" + std::string("\0\0\0\2", 4) + "\x01xy" + "ef\xA0G 12.5";
  ForEachIndexWord(text, true, [&](std::string_view w) { words.emplace_back(w); });
  EXPECT_EQ(words, (std::vector<std::string>{"ab", "c", "d", "ef\xA0g", "12", "5"}));
  words.clear();
  ForEachIndexWord(std::string(300, 'Q'), false,
                   [&](std::string_view w) { words.emplace_back(w); });
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0], std::string(kMaxIndexWord, 'q') + '\0');
}

// Subject texts may hold NUL: the full-text table must see past it.
TEST(WordTokenizer, FullTextTablesSeeWholeTexts) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  SqliteHandle db(raw);
  ASSERT_TRUE(RegisterWordTokenizer(db.get()));
  ASSERT_EQ(sqlite3_exec(db.get(),
                         "CREATE VIRTUAL TABLE t USING fts5(body, tokenize='fvxwords elements', "
                         "content='', detail=none)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db.get(), "INSERT INTO t(rowid, body) VALUES(7, ?1)", -1, &insert,
                               nullptr),
            SQLITE_OK);
  const std::string text("ab\0c d\xFF\0\0\0\1\x05zqq Caf\xE7", 20);
  sqlite3_bind_text(insert, 1, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
  sqlite3_finalize(insert);
  auto rows = [&](const char* match) {
    sqlite3_stmt* select = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), "SELECT count(*) FROM t WHERE t MATCH ?1", -1, &select,
                                 nullptr),
              SQLITE_OK);
    sqlite3_bind_text(select, 1, match, -1, SQLITE_STATIC);
    EXPECT_EQ(sqlite3_step(select), SQLITE_ROW);
    const int64_t count = sqlite3_column_int64(select, 0);
    sqlite3_finalize(select);
    return count;
  };
  EXPECT_EQ(rows("\"d\""), 1);
  EXPECT_EQ(rows("\"CAF\xE7\""), 1);  // folded on both sides
  EXPECT_EQ(rows("\"qq\""), 1);       // after the element's payload "z"
  EXPECT_EQ(rows("\"z\""), 0);
  EXPECT_EQ(rows("\"caf\""), 0);
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST_F(WordIndexTest, BadIndexesAreIgnoredAndTheBookIsNeverWritten) {
  const std::string before = FileBytes(book_->book_path);
  BookDocument plain;
  OpenCode code;
  ASSERT_TRUE(plain.Open(book_->book_path, &code));
  plain.SetWordIndexUse(false);
  const std::vector<SearchQuery> queries = {Words("the"), Words("of", "and"), Words("caf\xE9")};
  auto expect_fallback = [&](const std::string& note) {
    document_.ReloadWordIndex();
    for (const SearchQuery& query : queries) {
      EXPECT_EQ(FindAll(document_, query), FindAll(plain, query)) << Describe(query);
      EXPECT_FALSE(document_.LastSearch().word_index_used) << note;
      EXPECT_NE(document_.LastSearch().word_index_note.find(note), std::string::npos)
          << document_.LastSearch().word_index_note;
    }
  };
  DropWordIndex(document_.BookId());
  expect_fallback("no word index");

  Build();
  const std::string good = FileBytes(IndexPath());
  auto write_index = [&](const std::string& bytes) {
    std::ofstream(IndexPath(), std::ios::binary | std::ios::trunc) << bytes;
  };
  // Truncated at several lengths, and bytes flipped across the file.
  for (size_t length : {size_t{0}, size_t{100}, good.size() / 2, good.size() - 4096}) {
    write_index(good.substr(0, length));
    document_.ReloadWordIndex();
    for (const SearchQuery& query : queries) {
      EXPECT_EQ(FindAll(document_, query), FindAll(plain, query)) << length;
      EXPECT_FALSE(document_.LastSearch().word_index_used) << length;
    }
  }
  // Bytes flipped anywhere: whatever SQLite makes of it, the answers stay right.
  for (size_t at = 77; at < good.size(); at += good.size() / 9) {
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    write_index(damaged);
    document_.ReloadWordIndex();
    for (const SearchQuery& query : queries) {
      EXPECT_EQ(FindAll(document_, query), FindAll(plain, query)) << at;
    }
  }
  // A posting list changed in a way SQLite cannot see: the checksum can.
  write_index(good);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(IndexPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE bodies_data SET block = substr(block, 1, length(block) - 1) || "
                           "x'01' WHERE id = (SELECT max(id) FROM bodies_data)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  expect_fallback("checksum");

  // Without the complete mark.
  write_index(good);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(IndexPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM meta WHERE key='complete'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  expect_fallback("incomplete");

  // Another book's index under this book's id.
  CompiledBook other = CompileSource("<new>Other\nthe of and caf\xE9\n");
  ASSERT_TRUE(other.ok);
  BookDocument other_document;
  ASSERT_TRUE(other_document.Open(other.book_path, &code));
  std::string error;
  ASSERT_EQ(BuildWordIndex(other_document, IndexPath(), {}, &error), WordIndexBuildStatus::kBuilt);
  expect_fallback("another book");

  // A full disk during the build leaves nothing trusted.
  DropWordIndex(document_.BookId());
  WordIndexBuildOptions small;
  small.max_pages = 40;
  EXPECT_EQ(BuildWordIndex(document_, IndexPath(), small, &error), WordIndexBuildStatus::kFailed);
  EXPECT_NE(error.find("disk is full"), std::string::npos) << error;
  expect_fallback("no word index");

  // A cancelled build: the same.
  WordIndexBuildOptions cancel;
  cancel.progress = [](uint32_t done, uint32_t) { return done < 1000; };
  EXPECT_EQ(BuildWordIndex(document_, IndexPath(), cancel, &error),
            WordIndexBuildStatus::kCancelled);
  expect_fallback("no word index");
  // Cancelling a rebuild keeps the complete index it would have replaced.
  Build();
  EXPECT_EQ(BuildWordIndex(document_, IndexPath(), cancel, &error),
            WordIndexBuildStatus::kCancelled);
  document_.ReloadWordIndex();
  EXPECT_EQ(FindAll(document_, Words("the")), FindAll(plain, Words("the")));
  EXPECT_TRUE(document_.LastSearch().word_index_used);
  DropWordIndex(document_.BookId());

  // Two builds at once: the second gives up, the first completes.
  WordIndexBuildStatus second = WordIndexBuildStatus::kBuilt;
  WordIndexBuildOptions first;
  first.progress = [&](uint32_t done, uint32_t) {
    if (done == 512) {
      BookDocument again;
      OpenCode c;
      std::string e;
      if (again.Open(book_->book_path, &c)) second = BuildWordIndex(again, IndexPath(), {}, &e);
    }
    return true;
  };
  EXPECT_EQ(BuildWordIndex(document_, IndexPath(), first, &error), WordIndexBuildStatus::kBuilt);
  EXPECT_EQ(second, WordIndexBuildStatus::kBusy);
  document_.ReloadWordIndex();
  EXPECT_EQ(FindAll(document_, Words("the")), FindAll(plain, Words("the")));
  EXPECT_TRUE(document_.LastSearch().word_index_used);
  EXPECT_TRUE(document_.LastSearch().exact);

  EXPECT_EQ(FileBytes(book_->book_path), before);
}

TEST_F(WordIndexTest, AReplacedBookIsNotAnsweredFromTheOldIndex) {
  Build();
  EXPECT_FALSE(FindAll(document_, Words("the")).empty());
  EXPECT_TRUE(document_.LastSearch().word_index_used);
  // Another book copied over the same file name.
  CompiledBook other = CompileSource("<new>Replaced\nthe only subject\n");
  ASSERT_TRUE(other.ok);
  const std::string copy = ::testing::TempDir() + "replaced_" + std::to_string(getpid()) + ".fvx";
  std::ofstream(copy, std::ios::binary) << FileBytes(book_->book_path);
  BookDocument first;
  OpenCode code;
  ASSERT_TRUE(first.Open(copy, &code));
  EXPECT_EQ(FindAll(first, Words("the")).size(), FindAll(document_, Words("the")).size());
  first.Close();
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << FileBytes(other.book_path);
  BookDocument replaced;
  ASSERT_TRUE(replaced.Open(copy, &code));
  EXPECT_EQ(FindAll(replaced, Words("the")), std::vector<uint32_t>{0});
  EXPECT_FALSE(replaced.LastSearch().word_index_used);
  std::remove(copy.c_str());
}

TEST_F(WordIndexTest, BackgroundBuildAndListing) {
  DropWordIndex(document_.BookId());
  WordIndexBuildJob job;
  std::atomic<bool> done{false};
  job.Start(book_->book_path, [&](WordIndexBuildStatus) { done = true; });
  EXPECT_EQ(job.Wait(), WordIndexBuildStatus::kBuilt) << job.Error();
  EXPECT_TRUE(done);
  EXPECT_EQ(job.Progress(), 100);
  document_.ReloadWordIndex();
  FindAll(document_, Words("the"));
  EXPECT_TRUE(document_.LastSearch().word_index_used);
  bool listed = false;
  for (const WordIndexFile& file : ListWordIndexes()) {
    if (file.book_id == document_.BookId()) listed = file.bytes > 0;
  }
  EXPECT_TRUE(listed);
  // Asked to keep a usable index: kept, nothing built.
  job.Start(book_->book_path, nullptr, /*unless_usable=*/true);
  EXPECT_EQ(job.Wait(), WordIndexBuildStatus::kUpToDate);

  // Cancelled at once: nothing trusted.
  DropWordIndex(document_.BookId());
  job.Start(book_->book_path);
  job.Cancel();
  EXPECT_NE(job.Wait(), WordIndexBuildStatus::kBuilt);
  document_.ReloadWordIndex();
  FindAll(document_, Words("the"));
  EXPECT_FALSE(document_.LastSearch().word_index_used);
  EXPECT_TRUE(DropWordIndex(document_.BookId()));
}

using CommandRun = platform::testing::CommandOutput;

CommandRun Fvx(const std::string& arguments) {
  return platform::testing::RunCommandLine(std::string(FVX_BINARY_DIR) + "/bin/fvx " + arguments +
                                           " 2>&1");
}

TEST_F(WordIndexTest, IndexCommandAndExplain) {
  const std::string book = "'" + book_->book_path + "'";
  DropWordIndex(document_.BookId());
  CommandRun run = Fvx("search " + book + " the --all --explain");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("word index: not used: no word index for this book"), std::string::npos)
      << run.out;
  const std::string plain_out = run.out.substr(0, run.out.find("word index:"));

  run = Fvx("index " + book);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(IndexPath()), std::string::npos) << run.out;
  run = Fvx("index --list");
  EXPECT_NE(run.out.find(document_.BookId() + "\t"), std::string::npos) << run.out;

  run = Fvx("search " + book + " the --all --explain");
  EXPECT_EQ(run.out.substr(0, run.out.find("word index:")), plain_out);
  EXPECT_NE(run.out.find("word index: used (exact subjects)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("subjects inflated: 0"), std::string::npos) << run.out;
  run = Fvx("search " + book + " THE --case --all --explain");
  EXPECT_NE(run.out.find("word index: used (candidates, confirmed by the matcher)"),
            std::string::npos)
      << run.out;

  EXPECT_EQ(Fvx("index --drop " + book).status, 0);
  run = Fvx("search " + book + " the --all --explain");
  EXPECT_NE(run.out.find("not used: no word index"), std::string::npos) << run.out;
  EXPECT_EQ(Fvx("index").status, 2);
  EXPECT_EQ(Fvx("index --drop").status, 2);
  EXPECT_EQ(Fvx("index /nonexistent/book.fvx").status, 1);
}

}  // namespace
}  // namespace fvx::reader
