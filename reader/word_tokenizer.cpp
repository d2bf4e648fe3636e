#include "reader/word_tokenizer.h"

#include <sqlite3.h>

#include <cstring>

namespace fvx::reader {
namespace {

// The tokenizer object is one of two constants: no state is kept.
struct Mode {
  bool with_elements;
};
const Mode kPlain{false};
const Mode kElements{true};

int Create(void*, const char** arguments, int count, Fts5Tokenizer** out) {
  const Mode* mode = &kPlain;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(arguments[i], "elements") == 0) {
      mode = &kElements;
    } else {
      return SQLITE_ERROR;
    }
  }
  // FTS5 only hands the pointer back to us.
  *out = reinterpret_cast<Fts5Tokenizer*>(const_cast<Mode*>(mode));
  return SQLITE_OK;
}

void Delete(Fts5Tokenizer*) {}

int Tokenize(Fts5Tokenizer* tokenizer, void* context, int flags, const char* text, int size,
             int (*token)(void*, int, const char*, int, int, int)) {
  const auto* mode = reinterpret_cast<const Mode*>(tokenizer);
  // Queries are plain text whatever the column holds.
  const bool with_elements = mode->with_elements && (flags & FTS5_TOKENIZE_DOCUMENT) != 0;
  if (text == nullptr || size <= 0) return SQLITE_OK;
  int rc = SQLITE_OK;
  ForEachIndexWord(std::string_view(text, static_cast<size_t>(size)), with_elements,
                   [&](std::string_view word) {
                     // Offsets only matter for highlighting, which the matcher does.
                     if (rc == SQLITE_OK) {
                       rc = token(context, 0, word.data(), static_cast<int>(word.size()), 0, 0);
                     }
                   });
  return rc;
}

fts5_api* FullTextApi(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_pointer(statement, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
  }
  sqlite3_finalize(statement);
  return api;
}

}  // namespace

bool RegisterWordTokenizer(sqlite3* db) {
  fts5_api* api = FullTextApi(db);
  if (api == nullptr || api->iVersion < 2) return false;
  static fts5_tokenizer tokenizer{Create, Delete, Tokenize};
  return api->xCreateTokenizer(api, "fvxwords", nullptr, &tokenizer, nullptr) == SQLITE_OK;
}

}  // namespace fvx::reader
