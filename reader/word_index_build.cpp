#include "reader/word_index_build.h"

#include <sqlite3.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "platform/paths.h"
#include "reader/book_document.h"
#include "reader/word_index.h"
#include "reader/word_tokenizer.h"

namespace fvx::reader {
namespace {

constexpr uint32_t kProgressEvery = 256;

constexpr const char* kSchema =
    "DROP TABLE IF EXISTS meta;"
    "DROP TABLE IF EXISTS bodies;"
    "DROP TABLE IF EXISTS headings;"
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE VIRTUAL TABLE bodies USING fts5(body, tokenize='fvxwords elements', content='',"
    " detail=none, columnsize=0);"
    "CREATE VIRTUAL TABLE headings USING fts5(heading, tokenize='fvxwords', content='',"
    " detail=none, columnsize=0);"
    // Fewer, larger segments while filling: less merging afterwards.
    "INSERT INTO bodies(bodies, rank) VALUES('hashsize', 67108864);"
    "INSERT INTO headings(headings, rank) VALUES('hashsize', 16777216);";

// Binds (key, text) and runs a prepared two-column insert.
bool InsertRow(platform::SqlStatement& insert, int64_t key, std::string_view text) {
  insert.Bind(1, key);
  insert.BindTextNoCopy(2, text);
  const int rc = insert.Step();
  insert.Reset();
  return rc == SQLITE_DONE;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = platform::LastPathSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string RandomStamp() {
  std::random_device device;
  const uint64_t value =
      (uint64_t{device()} << 32) ^ device() ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  return std::to_string(value);
}

// Removes the file a failed build leaves when it holds nothing (no earlier
// index survived the rollback), under the write lock so that a build that
// has just begun in another process keeps its file.
void RemoveIfEmpty(const std::string& index_path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(index_path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) return;
  sqlite3_busy_timeout(db.get(), 0);
  if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  sqlite3_stmt* count = nullptr;
  bool empty = false;
  if (sqlite3_prepare_v2(db.get(), "SELECT count(*) FROM sqlite_schema", -1, &count, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(count) == SQLITE_ROW) {
    empty = sqlite3_column_int64(count, 0) == 0;
  }
  sqlite3_finalize(count);
  if (empty) {
    for (const std::string& file : {index_path, index_path + "-wal", index_path + "-shm"}) {
      unlink(file.c_str());
    }
  }
  sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

WordIndexBuildStatus Build(BookDocument& document, const std::string& index_path,
                           const WordIndexBuildOptions& options, std::string* error) {
  auto fail = [&](std::string text) {
    *error = std::move(text);
    return WordIndexBuildStatus::kFailed;
  };
  if (!document.IsOpen()) return fail("no book is open");
  if (const std::string folder = FolderOf(index_path);
      !folder.empty() && !platform::EnsureDirectory(folder)) {
    return fail("cannot create " + folder);
  }
  SqliteHandle db;
  auto sql_error = [&](const char* what) {
    const int code = sqlite3_extended_errcode(db.get());
    std::string text = std::string(what) + ": " + sqlite3_errmsg(db.get());
    if ((code & 0xFF) == SQLITE_FULL) text = std::string(what) + ": the disk is full";
    return fail(text);
  };
  // A damaged or foreign file in the index's place is replaced, never
  // built upon: one more try after removing it.
  for (int attempt = 0;; ++attempt) {
    sqlite3* raw = nullptr;
    const int open_rc =
        sqlite3_open_v2(index_path.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(raw);
    if (open_rc != SQLITE_OK) return fail("cannot open " + index_path);
    if (!RegisterWordTokenizer(db.get())) return fail("SQLite has no full-text module");
    sqlite3_busy_timeout(db.get(), 0);
    int rc = sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_exec(db.get(), "PRAGMA synchronous=NORMAL; PRAGMA cache_size=-65536", nullptr,
                   nullptr, nullptr);
      if (options.max_pages > 0) {
        const std::string pragma = "PRAGMA max_page_count=" + std::to_string(options.max_pages);
        sqlite3_exec(db.get(), pragma.c_str(), nullptr, nullptr, nullptr);
      }
      // One writer: a second build finds the lock taken and gives up at once.
      rc = sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      if ((rc & 0xFF) == SQLITE_BUSY) {
        *error = "another build of this index is running";
        return WordIndexBuildStatus::kBusy;
      }
      if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db.get(), kSchema, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) break;
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      }
    }
    const int code = sqlite3_errcode(db.get()) & 0xFF;
    if (attempt > 0 || (code != SQLITE_CORRUPT && code != SQLITE_NOTADB)) {
      return sql_error("cannot set up the index");
    }
    db.reset();
    for (const std::string& file : {index_path, index_path + "-wal", index_path + "-shm"}) {
      if (unlink(file.c_str()) != 0 && errno != ENOENT) return fail("cannot replace " + file);
    }
  }
  auto rollback = [&] { sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr); };
  {
    platform::SqlStatement bodies(db.get(), "INSERT INTO bodies(rowid, body) VALUES(?1, ?2)");
    platform::SqlStatement headings(db.get(), "INSERT INTO headings(rowid, heading) VALUES(?1, ?2)");
    if (!bodies.ok() || !headings.ok()) {
      WordIndexBuildStatus status = sql_error("cannot prepare the build");
      rollback();
      return status;
    }
    const uint32_t total = document.SubjectCount();
    std::string text;
    for (uint32_t subject = 0; subject < total; ++subject) {
      if (subject % kProgressEvery == 0 && options.progress && !options.progress(subject, total)) {
        rollback();
        *error = "cancelled";
        return WordIndexBuildStatus::kCancelled;
      }
      // Exactly what the matcher reads: an unreadable text matches nothing.
      text.clear();
      if (!document.ForEachTextPiece(subject, [&](const uint8_t* bytes, size_t size) {
            text.append(reinterpret_cast<const char*>(bytes), size);
            return true;
          })) {
        text.clear();
      }
      const std::string heading(document.Heading(subject));
      if (!InsertRow(bodies, subject, text) || !InsertRow(headings, subject, heading)) {
        WordIndexBuildStatus status = sql_error("cannot write the index");
        rollback();
        return status;
      }
    }
    if (options.progress && !options.progress(total, total)) {
      rollback();
      *error = "cancelled";
      return WordIndexBuildStatus::kCancelled;
    }
  }
  std::string checksum;
  if (sqlite3_exec(db.get(),
                   "INSERT INTO bodies(bodies) VALUES('optimize');"
                   "INSERT INTO headings(headings) VALUES('optimize');",
                   nullptr, nullptr, nullptr) != SQLITE_OK ||
      !WordIndexChecksum(db.get(), &checksum)) {
    WordIndexBuildStatus status = sql_error("cannot finish the index");
    rollback();
    return status;
  }
  {
    platform::SqlStatement meta(db.get(), "INSERT INTO meta(key, value) VALUES(?1, ?2)");
    auto put = [&](const char* key, const std::string& value) {
      meta.BindTextNoCopy(1, key);
      meta.BindTextNoCopy(2, value);
      const int rc = meta.Step();
      meta.Reset();
      return rc == SQLITE_DONE;
    };
    const bool written =
        meta.ok() && put("format", kWordIndexFormat) && put("book_id", document.BookId()) &&
        put("subjects", std::to_string(document.SubjectCount())) &&
        put("text_total", std::to_string(document.layout().positions.text_total)) &&
        put("stamp", RandomStamp()) && put("checksum", checksum) &&
        // The mark that makes the rest count, in the same transaction.
        put("complete", "1");
    if (!written) {
      WordIndexBuildStatus status = sql_error("cannot write the index");
      rollback();
      return status;
    }
  }
  if (sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    WordIndexBuildStatus status = sql_error("cannot commit the index");
    rollback();
    return status;
  }
  // Fold the log into the file so the index is one file at rest.
  sqlite3_wal_checkpoint_v2(db.get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  return WordIndexBuildStatus::kBuilt;
}

}  // namespace

WordIndexBuildStatus BuildWordIndex(BookDocument& document, const std::string& index_path,
                                    const WordIndexBuildOptions& options, std::string* error) {
  const WordIndexBuildStatus status = Build(document, index_path, options, error);
  if (status == WordIndexBuildStatus::kCancelled || status == WordIndexBuildStatus::kFailed) {
    RemoveIfEmpty(index_path);
  }
  return status;
}

WordIndexBuildJob::~WordIndexBuildJob() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

namespace {

// A file that a cancelled or failed build left is not an index.
bool HasUsableIndex(BookDocument& document) {
  const std::string path = WordIndexPath(document.BookId());
  if (access(path.c_str(), F_OK) != 0) return false;
  const WordIndexIdentity identity{document.BookId(), document.SubjectCount(),
                                   document.layout().positions.text_total};
  std::string reason;
  return WordIndex::Open(path, identity, &reason) != nullptr;
}

}  // namespace

void WordIndexBuildJob::Start(const std::string& book_path,
                              std::function<void(WordIndexBuildStatus)> on_done,
                              bool unless_usable) {
  if (thread_.joinable()) thread_.join();
  cancel_ = false;
  running_ = true;
  progress_ = 0;
  thread_ = std::thread([this, book_path, on_done = std::move(on_done), unless_usable] {
    std::string error;
    WordIndexBuildStatus status = WordIndexBuildStatus::kFailed;
    BookDocument document;
    OpenCode code;
    if (!document.Open(book_path, &code)) {
      error = "the book cannot be opened";
    } else if (unless_usable && HasUsableIndex(document)) {
      status = WordIndexBuildStatus::kUpToDate;
    } else {
      WordIndexBuildOptions options;
      options.progress = [this](uint32_t done, uint32_t total) {
        progress_ = total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total);
        return !cancel_.load();
      };
      status = BuildWordIndex(document, WordIndexPath(document.BookId()), options, &error);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_ = status;
      error_ = error;
    }
    running_ = false;
    if (on_done) on_done(status);
  });
}

WordIndexBuildStatus WordIndexBuildJob::Wait() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string WordIndexBuildJob::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

}  // namespace fvx::reader
