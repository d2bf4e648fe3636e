#include "reader/word_index.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>

#include "bookformat/search_keys.h"
#include "platform/paths.h"
#include "reader/word_tokenizer.h"

namespace fvx::reader {
namespace {

constexpr const char* kTables[] = {"bodies", "headings"};
// A substring piece found inside more index words than this narrows too
// little to be worth the query; the book's own index takes over.
constexpr size_t kMaxScanWords = 512;

using platform::SqlStatement;
using platform::SqlTransaction;

bool FileSize(const std::string& path, uint64_t* bytes) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  *bytes = static_cast<uint64_t>(status.st_size);
  return true;
}

bool IsBookIdName(std::string_view name) {
  if (name.size() != 43 || name.substr(40) != ".db") return false;
  return std::all_of(name.begin(), name.begin() + 40,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The planner's view of a set of subjects.
struct SubjectSet {
  enum class Kind { kAll, kNone, kQuery } kind = Kind::kAll;
  std::string expression;
};

SubjectSet All() {
  return {};
}
SubjectSet None() {
  return {SubjectSet::Kind::kNone, {}};
}
SubjectSet QueryOf(std::string expression) {
  return {SubjectSet::Kind::kQuery, std::move(expression)};
}

SubjectSet Combine(SubjectSet a, SubjectSet b, SearchOperator op) {
  using Kind = SubjectSet::Kind;
  if (op == SearchOperator::kAnd) {
    if (a.kind == Kind::kNone || b.kind == Kind::kNone) return None();
    if (a.kind == Kind::kAll) return b;
    if (b.kind == Kind::kAll) return a;
    return QueryOf("(" + a.expression + ") AND (" + b.expression + ")");
  }
  if (a.kind == Kind::kAll || b.kind == Kind::kAll) return All();
  if (a.kind == Kind::kNone) return b;
  if (b.kind == Kind::kNone) return a;
  return QueryOf("(" + a.expression + ") OR (" + b.expression + ")");
}

// Index words never hold '"' (a separator) nor NUL (kept out of queries).
std::string Quoted(std::string_view word) {
  return "\"" + std::string(word) + "\"";
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(format::FoldCase(static_cast<uint8_t>(c)));
  return folded;
}

}  // namespace

std::string WordIndexFolder() {
  return platform::JoinPath(platform::DataHome(), "word-index");
}

std::string WordIndexPath(const std::string& book_id) {
  return platform::JoinPath(WordIndexFolder(), book_id + ".db");
}

std::vector<WordIndexFile> ListWordIndexes() {
  std::vector<WordIndexFile> files;
  const std::string folder = WordIndexFolder();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!IsBookIdName(name)) continue;
    WordIndexFile file;
    file.book_id = std::string(name.substr(0, 40));
    file.path = platform::JoinPath(folder, name);
    if (!FileSize(file.path, &file.bytes)) continue;
    for (const char* suffix : {"-wal", "-shm"}) {
      uint64_t more = 0;
      if (FileSize(file.path + suffix, &more)) file.bytes += more;
    }
    files.push_back(std::move(file));
  }
  closedir(dir);
  std::sort(files.begin(), files.end(),
            [](const WordIndexFile& a, const WordIndexFile& b) { return a.book_id < b.book_id; });
  return files;
}

bool DropWordIndex(const std::string& book_id) {
  const std::string path = WordIndexPath(book_id);
  bool ok = true;
  // The main file first: without it the others are never read.
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
    if (unlink(file.c_str()) != 0 && errno != ENOENT) ok = false;
  }
  return ok;
}

bool WordIndexChecksum(sqlite3* db, std::string* checksum) {
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t bytes = 0;
  auto add = [&](std::string_view data) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    const unsigned char length[4] = {
        static_cast<unsigned char>(size >> 24), static_cast<unsigned char>(size >> 16),
        static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size)};
    crc = crc32(crc, length, 4);
    if (!data.empty()) {
      crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    }
    bytes += data.size() + 4;
  };
  for (const char* table : kTables) {
    const std::string name(table);
    // Row 1 holds ranking totals, saved when the build commits; no search reads it.
    SqlStatement data(db, "SELECT id, block FROM " + name + "_data WHERE id <> 1 ORDER BY id");
    SqlStatement index(db, "SELECT segid, term, pgno FROM " + name + "_idx ORDER BY segid, term");
    if (!data.ok() || !index.ok()) return false;
    int rc;
    while ((rc = data.Step()) == SQLITE_ROW) {
      add(std::to_string(sqlite3_column_int64(data.get(), 0)));
      add(data.Bytes(1));
    }
    if (rc != SQLITE_DONE) return false;
    while ((rc = index.Step()) == SQLITE_ROW) {
      add(std::to_string(sqlite3_column_int64(index.get(), 0)));
      add(index.Bytes(1));
      add(std::to_string(sqlite3_column_int64(index.get(), 2)));
    }
    if (rc != SQLITE_DONE) return false;
  }
  char text[40];
  std::snprintf(text, sizeof(text), "%08lx-%llu", static_cast<unsigned long>(crc),
                static_cast<unsigned long long>(bytes));
  *checksum = text;
  return true;
}

std::unique_ptr<WordIndex> WordIndex::Open(const std::string& path, const WordIndexIdentity& book,
                                           std::string* reason) {
  uint64_t bytes = 0;
  if (!FileSize(path, &bytes)) {
    *reason = "no word index for this book";
    return nullptr;
  }
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) {
    *reason = "the word index cannot be opened";
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), 5000);
  sqlite3_exec(db.get(), "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  if (!RegisterWordTokenizer(db.get())) {
    *reason = "SQLite has no full-text module";
    return nullptr;
  }
  std::unique_ptr<WordIndex> index(new WordIndex(std::move(db), book));
  SqlTransaction transaction(index->db_.get(), SqlTransaction::Mode::kDeferred);
  if (!transaction.ok() || !index->Verify(reason)) return nullptr;
  return index;
}

sqlite3_stmt* WordIndex::Prepared(SqliteStatement* statement, const std::string& sql) {
  if (!*statement) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db_.get(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(raw);
      return nullptr;
    }
    statement->reset(raw);
  }
  sqlite3_reset(statement->get());
  return statement->get();
}

bool WordIndex::Verify(std::string* reason) {
  sqlite3_stmt* meta = Prepared(&meta_, "SELECT key, value FROM meta");
  if (meta == nullptr) {
    *reason = "the word index is damaged or incomplete";
    return false;
  }
  std::map<std::string, std::string, std::less<>> values;
  int rc;
  auto text = [&](int column) {
    const void* data = sqlite3_column_blob(meta, column);
    return data ? std::string(static_cast<const char*>(data),
                              static_cast<size_t>(sqlite3_column_bytes(meta, column)))
                : std::string();
  };
  while ((rc = sqlite3_step(meta)) == SQLITE_ROW) values[text(0)] = text(1);
  sqlite3_reset(meta);
  if (rc != SQLITE_DONE) {
    *reason = "the word index is damaged";
    return false;
  }
  auto value = [&](const char* key) {
    auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  if (value("complete") != "1") {
    *reason = "the word index is incomplete";
    return false;
  }
  if (value("format") != kWordIndexFormat) {
    *reason = "the word index has another format";
    return false;
  }
  if (value("book_id") != book_.book_id || value("subjects") != std::to_string(book_.subjects) ||
      value("text_total") != std::to_string(book_.text_total)) {
    *reason = "the word index belongs to another book";
    return false;
  }
  const std::string stamp = value("stamp");
  if (stamp.empty() || stamp != verified_stamp_) {
    std::string checksum;
    if (!WordIndexChecksum(db_.get(), &checksum) || checksum != value("checksum")) {
      *reason = "the word index is damaged (checksum)";
      return false;
    }
    verified_stamp_ = stamp;
  }
  return true;
}

bool WordIndex::Run(const std::string& table, const std::string& expression, uint32_t from,
                    uint32_t limit, std::vector<uint32_t>* subjects) {
  ++queries_;
  const bool headings = table == "headings";
  sqlite3_stmt* select = Prepared(headings ? &select_headings_ : &select_bodies_,
                                  "SELECT rowid FROM " + table + " WHERE " + table +
                                      " MATCH ?1 AND rowid >= ?2 ORDER BY rowid LIMIT ?3");
  if (select == nullptr) return false;
  sqlite3_bind_text(select, 1, expression.data(), static_cast<int>(expression.size()),
                    SQLITE_STATIC);
  sqlite3_bind_int64(select, 2, from);
  sqlite3_bind_int64(select, 3, limit == 0 ? -1 : int64_t{limit});
  // Unbound when done: the expression does not outlive this call.
  struct Unbind {
    sqlite3_stmt* statement;
    ~Unbind() {
      sqlite3_reset(statement);
      sqlite3_clear_bindings(statement);
    }
  } unbind{select};
  int rc;
  int64_t previous = -1;
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    const int64_t row = sqlite3_column_int64(select, 0);
    // Rows come in ascending order and name subjects of this book.
    if (row <= previous || row >= int64_t{book_.subjects}) return false;
    subjects->push_back(static_cast<uint32_t>(row));
    previous = row;
  }
  return rc == SQLITE_DONE;
}

bool WordIndex::ScanVocabulary(const std::string& table, const std::string& piece, bool suffix,
                               std::vector<std::string>* words, bool* ok) {
  const bool headings = table == "headings";
  std::vector<std::string>& all = headings ? heading_words_ : body_words_;
  bool& loaded = headings ? heading_words_loaded_ : body_words_loaded_;
  *ok = true;
  if (!loaded) {
    const std::string vocabulary = "temp." + table + "_vocabulary";
    if (sqlite3_exec(db_.get(),
                     ("CREATE VIRTUAL TABLE IF NOT EXISTS " + vocabulary +
                      " USING fts5vocab(main, " + table + ", row)")
                         .c_str(),
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      *ok = false;
      return false;
    }
    SqlStatement terms(db_.get(), "SELECT term FROM " + vocabulary);
    int rc;
    while ((rc = terms.Step()) == SQLITE_ROW) all.emplace_back(terms.Bytes(0));
    if (rc != SQLITE_DONE) {
      all.clear();
      *ok = false;
      return false;
    }
    loaded = true;
  }
  for (const std::string& word : all) {
    // A shortened long word may hold the piece past its stored bytes.
    const bool shortened = word.size() == kMaxIndexWord + 1 && word.back() == '\0';
    bool match;
    if (shortened) {
      match = true;
    } else if (suffix) {
      match = word.size() >= piece.size() &&
              word.compare(word.size() - piece.size(), piece.size(), piece) == 0;
    } else {
      match = word.find(piece) != std::string::npos;
    }
    if (!match) continue;
    if (words->size() == kMaxScanWords) return false;
    words->push_back(shortened ? word.substr(0, kMaxIndexWord) : word);
    if (shortened) words->back() += '*';  // looked up as a prefix
  }
  return true;
}

WordIndex::Answer WordIndex::Find(const SearchQuery& query, std::vector<uint32_t>* subjects,
                                  std::string* reason, uint32_t from, uint32_t limit) {
  subjects->clear();
  SqlTransaction transaction(db_.get(), SqlTransaction::Mode::kDeferred);
  if (!transaction.ok() || !Verify(reason)) return Answer::kFailed;
  const std::string table = query.headings_only ? "headings" : "bodies";
  bool exact = !query.match_case && query.whole_words;
  bool failed = false;

  auto plan_word = [&](const std::string& word) -> SubjectSet {
    // NUL ends an SQL text for the query parser; such words go unnarrowed.
    if (word.find('\0') != std::string::npos) {
      exact = false;
      return All();
    }
    SubjectSet set = All();
    size_t pieces = 0;
    format::ForEachWord(word, [&](std::string_view piece) {
      ++pieces;
      const bool at_start = piece.data() == word.data();
      const bool at_end = piece.data() + piece.size() == word.data() + word.size();
      std::string folded = Folded(piece);
      SubjectSet piece_set;
      if (folded.size() > kMaxIndexWord) {
        // Stored shortened: a prefix of the stored bytes finds it.
        exact = false;
        piece_set = QueryOf(Quoted(folded.substr(0, kMaxIndexWord)) + "*");
      } else if (query.whole_words || (!at_start && !at_end)) {
        piece_set = QueryOf(Quoted(folded));
      } else if (at_end && !at_start) {
        piece_set = QueryOf(Quoted(folded) + "*");
      } else {
        std::vector<std::string> words;
        bool ok;
        if (!ScanVocabulary(table, folded, /*suffix=*/!at_end, &words, &ok)) {
          if (!ok) failed = true;
          piece_set = All();
        } else if (words.empty()) {
          piece_set = None();
        } else {
          std::string expression;
          for (const std::string& w : words) {
            if (!expression.empty()) expression += " OR ";
            expression += w.back() == '*' && w.size() == kMaxIndexWord + 1
                              ? Quoted(std::string_view(w).substr(0, kMaxIndexWord)) + "*"
                              : Quoted(w);
          }
          piece_set = QueryOf(expression);
        }
      }
      set = Combine(std::move(set), std::move(piece_set), SearchOperator::kAnd);
    });
    // A word of separators only, or one whose separators the matcher must
    // check, is not answered by word sets alone.
    if (pieces != 1 || !format::IsWordByte(static_cast<uint8_t>(word.front())) ||
        !format::IsWordByte(static_cast<uint8_t>(word.back()))) {
      exact = false;
    }
    return set;
  };

  SubjectSet set = plan_word(query.words[0]);
  for (int w = 1; w < 3; ++w) {
    if (query.words[w].empty()) continue;
    set = Combine(std::move(set), plan_word(query.words[w]),
                  w == 1 ? query.operator2 : query.operator3);
  }
  if (failed) {
    *reason = "the word index could not be read";
    return Answer::kFailed;
  }
  switch (set.kind) {
    case SubjectSet::Kind::kAll:
      *reason = "the words give the word index nothing to look up";
      return Answer::kUnnarrowed;
    case SubjectSet::Kind::kNone:
      return exact ? Answer::kExact : Answer::kCandidates;
    case SubjectSet::Kind::kQuery:
      break;
  }
  if (!Run(table, set.expression, from, limit, subjects)) {
    subjects->clear();
    *reason = "the word index could not be read";
    return Answer::kFailed;
  }
  return exact ? Answer::kExact : Answer::kCandidates;
}

}  // namespace fvx::reader
