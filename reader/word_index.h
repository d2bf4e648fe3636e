// The local word index of a book: an SQLite file in the data home, named
// after the book id, that answers whole-word searches without reading the
// book and narrows the others to a few candidate subjects.
//
//   <data home>/word-index/<book id>.db
//     meta(key, value)  format, book_id, subjects, text_total, stamp,
//                       checksum, complete ("1", written last, in the
//                       build's one transaction)
//     bodies            fts5 over each subject's stored text, rowid = subject
//     headings          fts5 over each subject's heading, rowid = subject
//
// Both full-text tables are contentless with detail=none (subject sets are
// all a search needs from them) and use the "fvxwords" tokenizer
// (reader/word_tokenizer.h). An index is used only when it is complete, was
// built for this very book (id, subject count, text length) and its
// checksum over the full-text data matches: anything else is ignored, and
// the search goes through the book's own index.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sqlite.h"
#include "reader/document.h"

namespace fvx::reader {

// What an index must have been built for.
struct WordIndexIdentity {
  std::string book_id;
  uint32_t subjects = 0;
  uint64_t text_total = 0;
};

using platform::SqliteHandle;
using platform::SqliteStatement;

// <data home>/word-index
std::string WordIndexFolder();
// The index file of a book id in the folder.
std::string WordIndexPath(const std::string& book_id);

struct WordIndexFile {
  std::string book_id;
  std::string path;
  uint64_t bytes = 0;  // with its -wal and -shm files
};
// Every index file in the folder, by book id.
std::vector<WordIndexFile> ListWordIndexes();
// Removes a book's index (and its -wal, -shm files). False when one could
// not be removed; true when there was none.
bool DropWordIndex(const std::string& book_id);

class WordIndex {
 public:
  // The index at path when it serves this book, else null and *reason.
  static std::unique_ptr<WordIndex> Open(const std::string& path, const WordIndexIdentity& book,
                                         std::string* reason);

  enum class Answer {
    kExact,       // *subjects is exactly the matching subjects
    kCandidates,  // *subjects holds every matching subject, and maybe more
    kUnnarrowed,  // the index cannot narrow this query
    kFailed,      // the index could not be read: stop using it
  };
  // Subjects in ascending order, from subject from on, at most limit of
  // them (0: all). *reason says why on kUnnarrowed/kFailed.
  Answer Find(const SearchQuery& query, std::vector<uint32_t>* subjects, std::string* reason,
              uint32_t from = 0, uint32_t limit = 0);

  // Prepared full-text queries run (for --explain).
  uint64_t queries() const { return queries_; }

 private:
  WordIndex(SqliteHandle db, WordIndexIdentity book) : db_(std::move(db)), book_(std::move(book)) {}
  // Reads meta and checks it and the checksum (once per stamp).
  bool Verify(std::string* reason);
  bool Run(const std::string& table, const std::string& expression, uint32_t from, uint32_t limit,
           std::vector<uint32_t>* subjects);
  // Index words of the table that contain the piece (suffix: end with it);
  // false when there are too many to be worth a query.
  bool ScanVocabulary(const std::string& table, const std::string& piece, bool suffix,
                      std::vector<std::string>* words, bool* ok);

  // The statement, prepared on first use and kept (reset after each use).
  sqlite3_stmt* Prepared(SqliteStatement* statement, const std::string& sql);

  SqliteHandle db_;  // first: outlives the statements
  SqliteStatement meta_;
  SqliteStatement select_bodies_;
  SqliteStatement select_headings_;
  WordIndexIdentity book_;
  std::string verified_stamp_;
  // Every index word of a table, loaded on the first substring search.
  std::vector<std::string> body_words_;
  std::vector<std::string> heading_words_;
  bool body_words_loaded_ = false;
  bool heading_words_loaded_ = false;
  uint64_t queries_ = 0;
};

// The checksum stored in meta: the full-text tables' data and segment index.
[[nodiscard]] bool WordIndexChecksum(sqlite3* db, std::string* checksum);

inline constexpr const char* kWordIndexFormat = "fvx-word-index 1";

}  // namespace fvx::reader
