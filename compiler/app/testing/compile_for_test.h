// Compiles a source text through the whole pipeline (front end, driver,
// book writer) into a book in a fresh folder, and reads the book back with
// the bookformat readers, for the back end's tests and its fuzzer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_file.h"
#include "bookformat/book_layout.h"
#include "compiler/backend/book_writer.h"
#include "compiler/base/statistics.h"
#include "compiler/base/test_sinks.h"

namespace fvx::compiler::testing {

struct TestCompile {
  FixedOptions options;
  BookWriterOptions writer;
  std::string file_name = "book.txt";
};

// A folder that goes, with everything in it, when its owner does.
class TemporaryFolder {
 public:
  TemporaryFolder() = default;
  explicit TemporaryFolder(std::string path) : path_(std::move(path)) {}
  TemporaryFolder(TemporaryFolder&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
  }
  TemporaryFolder& operator=(TemporaryFolder&& other) noexcept;
  ~TemporaryFolder();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct CompiledBook {
  bool ok = false;
  TemporaryFolder owner;
  std::string folder;
  std::string source_path;
  std::string book_path;
  RecordingMessageSink messages;
  CompileStatistics statistics;
  int sort_questions = 0;
  // Whether a message with exactly this text was reported (any level).
  bool Said(const std::string& text) const;
  // Messages that start with the prefix.
  std::vector<std::string> SaidStarting(const std::string& prefix) const;
};

CompiledBook CompileSource(const std::string& source, const TestCompile& how = {});

// A makeshift reader of a written book: the layout, and whole stores.
class BookReaderForTest {
 public:
  // False when the book cannot be opened.
  bool Open(const std::string& path);

  const format::BookLayout& layout() const { return layout_; }
  uint32_t subjects() const { return layout_.header.subject_count; }

  // A store's inflated data (all its blocks).
  std::string Store(uint64_t table_position, uint32_t block_size);
  std::string TableStore(uint64_t table) { return Store(table, layout_.header.table_block_size); }

  // Heading i without the has-anchors byte, and the flag.
  std::string Heading(uint32_t i, bool* has_anchors = nullptr);
  std::string Text(uint32_t i);
  uint32_t U32(const std::string& data, size_t index) const;
  uint64_t Off(const std::string& data, size_t index) const;

  // Raw bytes of the book stream.
  std::string StreamBytes(uint64_t position, size_t count);

 private:
  format::BookFile file_;
  format::BookLayout layout_;
  std::string headings_;
  std::string positions_;
  std::string texts_;
};

// Builds a recorded-text source line: n subjects "Subject <i>" with words.
std::string GeneratedSource(uint32_t subjects, uint32_t words_per_subject, uint32_t seed);

}  // namespace fvx::compiler::testing
