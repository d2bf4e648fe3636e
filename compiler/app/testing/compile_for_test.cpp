#include "compiler/app/testing/compile_for_test.h"

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <random>

#include "bookformat/coding.h"
#include "compiler/app/book_compiler.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/file.h"
#include "platform/scratch_file.h"

namespace fvx::compiler::testing {

TemporaryFolder& TemporaryFolder::operator=(TemporaryFolder&& other) noexcept {
  if (this != &other) {
    TemporaryFolder gone(std::move(*this));
    path_ = std::move(other.path_);
    other.path_.clear();
  }
  return *this;
}

TemporaryFolder::~TemporaryFolder() {
  if (path_.empty()) return;
  nftw(
      path_.c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }, 8,
      FTW_DEPTH | FTW_PHYS);
}

bool CompiledBook::Said(const std::string& text) const {
  for (const auto& line : messages.lines) {
    if (line.second == text) return true;
  }
  return false;
}

std::vector<std::string> CompiledBook::SaidStarting(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const auto& line : messages.lines) {
    if (line.second.rfind(prefix, 0) == 0) found.push_back(line.second);
  }
  return found;
}

CompiledBook CompileSource(const std::string& source, const TestCompile& how) {
  CompiledBook book;
  std::string pattern = platform::TemporaryFolderWithMostSpace() + "/fvx_backend_XXXXXX";
  std::vector<char> folder(pattern.begin(), pattern.end());
  folder.push_back('\0');
  if (mkdtemp(folder.data()) == nullptr) return book;
  book.folder = folder.data();
  book.owner = TemporaryFolder(book.folder);
  book.source_path = book.folder + "/" + how.file_name;
  book.book_path = OutputPathFor(book.source_path);
  {
    platform::File file =
        platform::File::Open(book.source_path, platform::File::Mode::kCreateTruncate);
    if (!file.IsOpen() || !file.Write(source.data(), source.size())) return book;
  }
  FixedOptions options = how.options;
  CBookWriter writer(how.writer);
  CBookCompiler compiler(&book.messages, nullptr, &options);
  compiler.SetBackEnd(&writer);
  CTextSourceReader reader;
  book.ok = compiler.Compile(reader, book.source_path, book.book_path, false);
  book.statistics = compiler.statistics();
  book.sort_questions = options.sort_questions;
  return book;
}

bool BookReaderForTest::Open(const std::string& path) {
  format::FormatError error;
  if (!format::OpenBook(path, &file_, &layout_, &error)) return false;
  headings_ = TableStore(layout_.headings.heading_table);
  positions_ = TableStore(layout_.positions.position_table);
  texts_ = Store(layout_.texts.text_table, layout_.header.content_block_size);
  return true;
}

std::string BookReaderForTest::Store(uint64_t table_position, uint32_t block_size) {
  std::vector<format::BlockDescriptor> blocks;
  format::FormatError error;
  if (!format::ReadBlockTable(file_, layout_.width(), table_position, 0, file_.StreamSize(),
                              &blocks, &error)) {
    return "";
  }
  format::BlockReader reader(&file_, layout_.width(), block_size);
  std::string data(blocks.size() * block_size, '\0');
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (!reader.Fetch(table_position, k, reinterpret_cast<uint8_t*>(&data[k * block_size]))) {
      return "";
    }
  }
  return data;
}

uint32_t BookReaderForTest::U32(const std::string& data, size_t index) const {
  if ((index + 1) * 4 > data.size()) return 0xDEADBEEF;
  return format::LoadU32(reinterpret_cast<const uint8_t*>(data.data()) + index * 4);
}

uint64_t BookReaderForTest::Off(const std::string& data, size_t index) const {
  const size_t w = format::OffsetBytes(layout_.width());
  if ((index + 1) * w > data.size()) return 0xDEADBEEF;
  return format::LoadOff(reinterpret_cast<const uint8_t*>(data.data()) + index * w,
                         layout_.width());
}

std::string BookReaderForTest::Heading(uint32_t i, bool* has_anchors) {
  const size_t w = layout_.header.HeadingOffsetsWide() ? 8 : 4;
  const size_t list = (size_t{subjects()} + 1) * w;
  auto offset = [&](size_t k) {
    const auto* p = reinterpret_cast<const uint8_t*>(headings_.data()) + k * w;
    return w == 8 ? format::LoadOff(p, format::OffsetWidth::kWide) : format::LoadU32(p);
  };
  std::string heading = headings_.substr(list + offset(i), offset(i + 1) - offset(i));
  bool anchors = false;
  if (!heading.empty() && static_cast<uint8_t>(heading.back()) >= 0x80) {
    anchors = true;
    heading.back() = static_cast<char>(static_cast<uint8_t>(heading.back()) & 0x7F);
  }
  if (!heading.empty() && heading.back() == '\0') heading.pop_back();
  if (has_anchors) *has_anchors = anchors;
  return heading;
}

std::string BookReaderForTest::Text(uint32_t i) {
  const uint64_t start = Off(positions_, 2 * size_t{i} + 1);
  const uint64_t end = Off(positions_, 2 * size_t{i} + 2);
  return texts_.substr(start, end - start);
}

std::string BookReaderForTest::StreamBytes(uint64_t position, size_t count) {
  std::string bytes(count, '\0');
  if (!file_.ReadAt(position, bytes.data(), count)) return "";
  return bytes;
}

std::string GeneratedSource(uint32_t subjects, uint32_t words_per_subject, uint32_t seed) {
  static const char* kWords[] = {"atlas", "river", "Mountain", "the", "of", "a", "valley",
                                 "northern", "city", "coast", "island", "lake", "forest", "old"};
  std::mt19937 random(seed);
  std::string source;
  for (uint32_t s = 0; s < subjects; ++s) {
    source += "<new>Subject " + std::to_string(random() % (subjects * 4)) + "\n";
    for (uint32_t w = 0; w < words_per_subject; ++w) {
      source += kWords[random() % 14];
      source += (w % 12 == 11) ? ".\n" : " ";
    }
    source += "\n";
  }
  return source;
}

}  // namespace fvx::compiler::testing
