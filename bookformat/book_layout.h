// The whole section directory of a book, read once at open time: every
// header field, every section's fixed fields and place, and the position of
// every store's block table.
//
// Sections are read in their fixed order, each at the previous one's next:
//   H, C x category-count, L, S, Q (only when stored-sorted is 0), Z, U, E,
//   P, F (only when the character width is 0), I, then further sections
//   ('D' or others, each tag + OFF next) while the position is below the
//   header's end of book.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bookformat/book_file.h"
#include "bookformat/sections.h"

namespace fvx::format {

// One compressed block store of the book.
struct StoreRef {
  uint8_t tag;              // the section that holds it
  uint32_t section_index;   // which 'C' section, else 0
  const char* name;         // "value table", "texts", ...
  uint64_t table_position;  // its block table
  uint32_t block_size;
  SectionPlace section;  // the store lies inside this section
};

struct BookLayout {
  ContainerInfo container;
  uint64_t stream_size = 0;  // bytes from the stream start to the end of the file
  HeaderSection header;
  uint64_t header_end = 0;  // position after the header's fields
  std::vector<CategorySection> categories;
  SelectionSection selections;
  HeadingSection headings;
  std::optional<LookupSection> lookup;
  PositionSection positions;
  TextSection texts;
  ReservedTextSection reserved_texts;
  PictureSection pictures;
  std::optional<SearchIndexSection> search_index;
  InfoSection info;
  std::optional<BookmarkSection> bookmarks;  // the first 'D' after 'I'
  std::vector<SectionPlace> trailing;        // every section after 'I', in order

  OffsetWidth width() const { return header.width(); }
  // Where the integrity digest lies, and the end of what it covers as the
  // compiler sealed it (the end of 'I'; sections added later are outside).
  uint64_t IntegrityAreaPosition() const { return format::IntegrityAreaPosition(header.version); }
  uint64_t SealedEnd() const { return info.place.next; }
  // A category's value offsets are 8 bytes only in version 2 with 0x1000 set.
  bool ValueOffsetsWide(const CategorySection& category) const {
    return header.version == 2 && (category.flags & CategorySection::kWideValueOffsets) != 0;
  }

  // Every section in stream order, 'H' first.
  std::vector<SectionPlace> Sections() const;
  // Every store, in stream order.
  std::vector<StoreRef> Stores() const;
};

// Parses the book's sections. On failure error->status is kDamaged (1) for
// inconsistent or cut-short data and kUnsupportedVersion (3) for a header
// version other than 1 or 2, and error->reason says what is wrong.
// REQUIRES: file is open (the container check passed).
[[nodiscard]] bool ParseBookLayout(const BookFile& file, BookLayout* layout, FormatError* error);

// Opens path, checks the container and parses the layout; the out-code of
// a failure is error->status (kNotABook for a failed container check).
[[nodiscard]] bool OpenBook(const std::string& path, BookFile* file, BookLayout* layout,
                            FormatError* error);

}  // namespace fvx::format
