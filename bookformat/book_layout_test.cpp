#include "bookformat/book_layout.h"

#include <gtest/gtest.h>

#include <random>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"

namespace fvx::format {
namespace {

using testing::BuildSampleBook;
using testing::SampleBook;
using testing::SampleBookOptions;

bool Parse(const std::string& container, BookLayout* layout, FormatError* error,
           BookFile* file) {
  return file->Open(std::make_unique<MemoryByteSource>(container), error) &&
         ParseBookLayout(*file, layout, error);
}

// Reads every block of every store and the digest; true when all is intact.
bool ReadEverything(const BookFile& file, const BookLayout& layout) {
  for (const StoreRef& store : layout.Stores()) {
    std::vector<BlockDescriptor> blocks;
    FormatError error;
    if (!ReadBlockTable(file, layout.width(), store.table_position, store.section.position,
                        store.section.next, &blocks, &error)) {
      return false;
    }
    BlockReader reader(&file, layout.width(), store.block_size);
    std::vector<uint8_t> block(store.block_size);
    for (uint64_t k = 0; k < blocks.size(); ++k) {
      if (!reader.Fetch(store.table_position, k, block.data())) return false;
    }
  }
  platform::Sha1Digest digest;
  return ComputeStreamDigest(file.source(), file.container().stream_start,
                             layout.IntegrityAreaPosition(), layout.SealedEnd(),
                             layout.IntegrityAreaPosition(), &digest) &&
         std::equal(digest.begin(), digest.end(), layout.header.integrity_area.begin());
}

TEST(BookLayoutTest, SampleBooksParseInEveryShape) {
  struct Shape {
    uint8_t version;
    bool sorted;
    bool bookmarks;
    int categories;
    int selections;
    int pictures;
  };
  for (const Shape& shape : {Shape{1, true, false, 2, 2, 1}, Shape{2, true, false, 2, 2, 1},
                             Shape{1, false, true, 0, 0, 0}, Shape{2, false, true, 3, 1, 2}}) {
    SampleBookOptions options;
    options.version = shape.version;
    options.stored_sorted = shape.sorted;
    options.with_bookmarks = shape.bookmarks;
    options.category_count = shape.categories;
    options.selection_count = shape.selections;
    options.picture_count = shape.pictures;
    const SampleBook book = BuildSampleBook(options);
    BookFile file;
    BookLayout layout;
    FormatError error;
    ASSERT_TRUE(Parse(book.container, &layout, &error, &file)) << error.reason;
    EXPECT_EQ(layout.header.version, shape.version);
    EXPECT_EQ(layout.categories.size(), size_t(shape.categories));
    EXPECT_EQ(layout.selections.selections.size(), size_t(shape.selections));
    EXPECT_EQ(layout.lookup.has_value(), !shape.sorted);
    EXPECT_TRUE(layout.search_index.has_value());
    EXPECT_EQ(layout.bookmarks.has_value(), shape.bookmarks);
    EXPECT_EQ(layout.SealedEnd(), book.sealed_end);
    EXPECT_EQ(layout.header.end_of_book, book.stream.size());
    EXPECT_EQ(layout.info.title, "A sample book");
    if (shape.categories == 0) {
      EXPECT_EQ(layout.header.next, layout.selections.place.position);
    }
    // Sections follow one another without gaps.
    const std::vector<SectionPlace> sections = layout.Sections();
    for (size_t i = 1; i < sections.size(); ++i) {
      EXPECT_EQ(sections[i].position, sections[i - 1].next);
    }
    EXPECT_TRUE(ReadEverything(file, layout));
    EXPECT_EQ(BookIdOf(layout.header), *BookIdOfSource(file.source()));
  }
}

TEST(BookLayoutTest, HeadingsAndTextsReadBackThroughTheCaches) {
  SampleBookOptions options;
  options.version = 2;
  options.subject_count = 40;
  options.text_repeat = 60;  // texts span several content blocks
  const SampleBook book = BuildSampleBook(options);
  BookFile file;
  BookLayout layout;
  FormatError error;
  ASSERT_TRUE(Parse(book.container, &layout, &error, &file)) << error.reason;
  BlockCache tables(&file, layout.width(), layout.header.table_block_size, kTableCacheBlocks);
  BlockCache content(&file, layout.width(), layout.header.content_block_size,
                     kContentCacheBlocks);
  const uint64_t n = layout.header.subject_count;
  for (uint64_t i = 0; i < n; ++i) {
    uint32_t start, end;
    ASSERT_TRUE(ReadTableU32(tables, layout.headings.heading_table, i, &start));
    ASSERT_TRUE(ReadTableU32(tables, layout.headings.heading_table, i + 1, &end));
    std::string heading(end - start, '\0');
    ASSERT_TRUE(ReadStoreBytes(tables, layout.headings.heading_table, (n + 1) * 4 + start,
                               heading.data(), heading.size()));
    heading.back() = static_cast<char>(heading.back() & 0x7F);
    EXPECT_EQ(heading, book.headings[i]);

    uint64_t text_start, text_end;
    ASSERT_TRUE(ReadTableOff(tables, layout.positions.position_table, 2 * i + 1, layout.width(),
                             &text_start));
    ASSERT_TRUE(ReadTableOff(tables, layout.positions.position_table, 2 * i + 2, layout.width(),
                             &text_end));
    std::string text(text_end - text_start, '\0');
    ASSERT_TRUE(ReadStoreBytes(content, layout.texts.text_table, text_start, text.data(),
                               text.size(), true));
    EXPECT_EQ(text, book.texts[i]);
  }
}

TEST(BookLayoutTest, OutCodes) {
  const SampleBook book = BuildSampleBook();
  BookFile file;
  BookLayout layout;
  FormatError error;

  std::string not_book = book.container;
  not_book[63] = 'X';  // "FVXD" -> "FVXX"
  EXPECT_FALSE(Parse(not_book, &layout, &error, &file));
  EXPECT_EQ(error.status, OpenStatus::kNotABook);

  std::string no_records = book.container;
  no_records[76] = no_records[77] = 0;
  error = {};
  EXPECT_FALSE(Parse(no_records, &layout, &error, &file));
  EXPECT_EQ(error.status, OpenStatus::kNotABook);

  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  for (char version : {0, 3}) {
    std::string other = book.container;
    other[start + 5] = version;
    error = {};
    EXPECT_FALSE(Parse(other, &layout, &error, &file));
    EXPECT_EQ(error.status, OpenStatus::kUnsupportedVersion);
  }

  error = {};
  EXPECT_FALSE(Parse(book.container.substr(0, book.container.size() / 2), &layout, &error, &file));
  EXPECT_EQ(error.status, OpenStatus::kDamaged);
  EXPECT_FALSE(error.reason.empty());
}

TEST(BookLayoutTest, EveryTruncationFailsCleanly) {
  SampleBookOptions options;
  options.subject_count = 3;
  options.text_repeat = 1;
  const SampleBook book = BuildSampleBook(options);
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  // The container keeps its header; the stream is cut anywhere before the end
  // of what the layout needs.
  for (size_t length = 0; length < book.sealed_end; ++length) {
    BookFile file;
    BookLayout layout;
    FormatError error;
    EXPECT_FALSE(Parse(book.container.substr(0, start + length), &layout, &error, &file))
        << length;
    EXPECT_NE(error.status, OpenStatus::kOk);
  }
}

TEST(BookLayoutTest, FlippedBytesNeverPassUnnoticed) {
  // Flip chosen bytes of the sealed part of the stream: every flip must be
  // refused by the layout, or fail a block fetch or the digest; never crash,
  // never pass.
  const SampleBook book = BuildSampleBook();
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  const uint64_t sealed_from = IntegrityAreaPosition(1);
  std::mt19937 random(17);
  int refused = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::string bytes = book.container;
    const size_t at = start + sealed_from + random() % (book.sealed_end - sealed_from);
    bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
    BookFile file;
    BookLayout layout;
    FormatError error;
    if (!Parse(bytes, &layout, &error, &file)) {
      EXPECT_NE(error.status, OpenStatus::kOk);
      ++refused;
      continue;
    }
    EXPECT_FALSE(ReadEverything(file, layout)) << "flip at stream byte " << at - start;
  }
  EXPECT_GT(refused, 0);
}

TEST(BookLayoutTest, FlippedStructuralHeaderBytesAreRefused) {
  const SampleBook book = BuildSampleBook();
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  // tag, next, version, character width, stored sorted, both block sizes
  for (size_t at : {0, 1, 4, 5, 6, 7, 9, 13}) {
    std::string bytes = book.container;
    bytes[start + at] = static_cast<char>(bytes[start + at] ^ 0x01);
    BookFile file;
    BookLayout layout;
    FormatError error;
    EXPECT_FALSE(Parse(bytes, &layout, &error, &file)) << at;
  }
}

TEST(BookLayoutTest, TrailingSectionsStopAtTheEndOfBook) {
  SampleBookOptions options;
  options.with_bookmarks = true;
  const SampleBook book = BuildSampleBook(options);
  BookFile file;
  BookLayout layout;
  FormatError error;
  ASSERT_TRUE(Parse(book.container, &layout, &error, &file)) << error.reason;
  ASSERT_TRUE(layout.bookmarks.has_value());
  EXPECT_EQ(layout.bookmarks->place.position, layout.SealedEnd());
  EXPECT_EQ(layout.bookmarks->slot_table, layout.SealedEnd() + 1 + 2 * 4);
  ASSERT_EQ(layout.trailing.size(), 1u);

  // An end of book inside 'I', and one beyond the file, are damage.
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  for (uint32_t end : {uint32_t(book.sealed_end - 1), uint32_t(book.container.size())}) {
    std::string bytes = book.container;
    StoreU32(reinterpret_cast<uint8_t*>(bytes.data()) + start + 37, end);
    error = {};
    EXPECT_FALSE(Parse(bytes, &layout, &error, &file)) << end;
    EXPECT_EQ(error.status, OpenStatus::kDamaged);
  }
}

TEST(BookLayoutTest, CountsThatCannotFitTheFileAreRefused) {
  const SampleBook book = BuildSampleBook();
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  // Offsets in a version-1 header: subjects 17, anchors 21, pictures 25,
  // categories 29, selections 33.
  for (size_t field : {17, 21, 25, 29, 33}) {
    std::string bytes = book.container;
    StoreU32(reinterpret_cast<uint8_t*>(bytes.data()) + start + field, 0xFFFFFFF0);
    BookFile file;
    BookLayout layout;
    FormatError error;
    EXPECT_FALSE(Parse(bytes, &layout, &error, &file)) << field;
    EXPECT_EQ(error.status, OpenStatus::kDamaged) << field;
  }
}

TEST(BookLayoutTest, CountsBeyondTheirStoresAndOtherBlockSizesAreRefused) {
  // Counts a file of this size could hold, but no store of this book backs:
  // a reader would loop or allocate by them.
  SampleBookOptions options;
  options.text_repeat = 40;
  const SampleBook book = BuildSampleBook(options);
  const uint32_t start = LoadU32(reinterpret_cast<const uint8_t*>(book.container.data()) + 78);
  struct Change {
    size_t field;
    uint32_t value;
  };
  // subjects 17, anchors 21, pictures 25; block sizes 9 and 13.
  for (const Change change : {Change{17, 2000}, Change{21, 2000}, Change{25, 2000},
                              Change{9, 1u << 20}, Change{9, 4096}, Change{13, 2048},
                              Change{13, 1u << 20}}) {
    std::string bytes = book.container;
    StoreU32(reinterpret_cast<uint8_t*>(bytes.data()) + start + change.field, change.value);
    BookFile file;
    BookLayout layout;
    FormatError error;
    EXPECT_FALSE(Parse(bytes, &layout, &error, &file)) << change.field << "=" << change.value;
    EXPECT_EQ(error.status, OpenStatus::kDamaged) << change.field;
  }
}

}  // namespace
}  // namespace fvx::format
