// The fixed fields of every section of a book stream, written and parsed by
// one description per section so that the two sides cannot drift apart.
//
//   stream    := H C* L S Q? Z U E P F? I trailing*
//   H         := 'H' u32:next u8:version u8:char-width u8:stored-sorted u8:1
//                u32:table-block-size u32:content-block-size u32:subjects
//                [u8:wide-heading-offsets  -- version 2 only]
//                u32:anchors u32:pictures u32:categories u32:selections
//                OFF:end-of-book u32:background u32:background-tile
//                u32:text-colour u32:link-colour u32:visited-link-colour
//                56*u8:integrity-area string:charset
//                u32:front-cover string:front-title u32:back-cover string:back-title
//   C         := 'C' OFF:next string:name u32:flags u32:values OFF:value-table
//                OFF:value-to-subjects-table OFF:subject-to-values-table
//                u32:precision string:prefix string:suffix  store store store
//   L         := 'L' OFF:next OFF:member-table (u32:members string:name)*  store
//   S         := 'S' OFF:next OFF:heading-table OFF:anchor-table  store store
//   Q         := 'Q' OFF:next u32:prefix-length OFF:groups OFF:lookup-table  store
//   Z         := 'Z' OFF:next OFF:position-table OFF:text-total  store
//   U         := 'U' OFF:next OFF:text-table  store
//   E         := 'E' OFF:next OFF:0
//   P         := 'P' OFF:next OFF:directory-table OFF:data-table  store store
//   F         := 'F' OFF:next u32:key-length u32:keys u32:segments OFF:index-table  store
//   I         := 'I' u8:2 1024*u8:information          -- no next field
//   D         := 'D' OFF:next OFF:slot-table
//   trailing  := D | u8:tag OFF:next ...               -- read while below end-of-book
//   string    := u32:n n*u8
//
// A section's next is the stream position of the byte after it. 'H' keeps a
// 4-byte next whatever the offset width. "…-table" fields hold the position
// of a block table (bookformat/blockstore/block_store.h) inside the section.
//
// Writing: Write…() emits the tag, a placeholder next and the fixed fields
// with the values given (store tables normally 0), and returns where the
// placeholders stand; the caller writes the stores and patches them.
// REQUIRES for every Write…(): writer.offset_width() is the book's width.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bookformat/book_file.h"
#include "bookformat/coding.h"
#include "bookformat/stream_writer.h"

namespace fvx::format {

inline constexpr uint32_t kNone32 = 0xFFFFFFFF;  // absent picture, colour or index
inline constexpr size_t kIntegrityAreaSize = 56;
inline constexpr size_t kDigestSize = 20;
inline constexpr size_t kInformationBlockSize = 1024;
inline constexpr uint8_t kInformationVersion = 2;
// Nothing in a book needs bigger blocks; a larger size in a header is a
// damaged or hostile file, and it would drive the caches' allocations.
inline constexpr uint32_t kMaxBlockSize = 1u << 20;

// Where a section stands in the stream.
struct SectionPlace {
  uint8_t tag = 0;
  uint64_t position = 0;  // of the tag byte
  uint64_t next = 0;      // the byte after the section
};

// What a section writer leaves to patch.
struct SectionPatches {
  uint64_t position = 0;          // of the tag byte
  uint64_t next_at = 0;           // placeholder of next (OFF; u32 in 'H')
  std::vector<uint64_t> table_at;  // placeholders of the store tables, in field order
  // Every fixed field's position, in field order (a list's entries in turn),
  // for values that are only known once the stores are written.
  std::vector<uint64_t> field_at;
};

// Patches next with the current position (call after the section's stores).
[[nodiscard]] bool FinishSection(StreamWriter& writer, const SectionPatches& patches);

// ---------------------------------------------------------------- 'H'

struct HeaderSection {
  static constexpr uint8_t kTag = 'H';
  uint32_t next = 0;
  uint8_t version = 1;          // 1 narrow offsets, 2 wide ("huge")
  uint8_t character_width = 0;  // 0 one byte per character
  uint8_t stored_sorted = 0;    // 0: a 'Q' section follows
  uint8_t reserved = 1;
  uint32_t table_block_size = 2048;
  uint32_t content_block_size = 16384;
  uint32_t subject_count = 0;
  uint8_t wide_heading_offsets = 0;  // stored in version 2 only
  uint32_t anchor_count = 0;
  uint32_t picture_count = 0;
  uint32_t category_count = 0;
  uint32_t selection_count = 0;
  uint64_t end_of_book = 0;
  uint32_t background_colour = kNone32;
  uint32_t background_tile_picture = kNone32;
  uint32_t text_colour = kNone32;
  uint32_t link_colour = kNone32;
  uint32_t visited_link_colour = kNone32;
  std::array<uint8_t, kIntegrityAreaSize> integrity_area{};  // digest in bytes 0-19
  std::string character_set;
  uint32_t front_cover_picture = kNone32;
  std::string front_cover_title;
  uint32_t back_cover_picture = kNone32;
  std::string back_cover_title;

  OffsetWidth width() const { return version == 2 ? OffsetWidth::kWide : OffsetWidth::kNarrow; }
  // Heading offsets are 8 bytes only in version 2 with the byte set to 1.
  bool HeadingOffsetsWide() const { return version == 2 && wide_heading_offsets == 1; }
};

struct HeaderPatches {
  uint64_t next_at = 0;  // u32
  uint64_t stored_sorted_at = 0;
  uint64_t picture_count_at = 0;
  uint64_t end_of_book_at = 0;  // OFF
  uint64_t background_tile_at = 0;
  uint64_t integrity_area_at = 0;
};

// The integrity area's stream position: fixed by the version.
constexpr uint64_t IntegrityAreaPosition(uint8_t version) { return version == 2 ? 66 : 61; }
constexpr uint64_t VersionBytePosition() { return 5; }

// Writes the header with the field values given (next included).
[[nodiscard]] bool WriteHeader(StreamWriter& writer, const HeaderSection& header,
                               HeaderPatches* patches);
// Parses the header at stream position 0; checks the tag, the version (code
// 3 for versions other than 1 and 2) and the block sizes (the two fixed ones). Bounds that need
// the rest of the book are checked by ParseBookLayout().
[[nodiscard]] bool ParseHeader(StreamCursor& cursor, HeaderSection* header, FormatError* error);

// ---------------------------------------------------------------- sections with next

// Each section below lists its fixed fields once in Fields(); io is either
// the writer or the parser of sections.cpp.

struct CategorySection {
  static constexpr uint8_t kTag = 'C';
  static constexpr const char* kName = "category";
  enum Table { kValueTable, kValueToSubjectsTable, kSubjectToValuesTable };
  // Flag bits of a category.
  static constexpr uint32_t kNumeric = 0x1;
  static constexpr uint32_t kMultiple = 0x2;
  static constexpr uint32_t kShownInText = 0x4;
  static constexpr uint32_t kInternal = 0x8;
  static constexpr uint32_t kRequired = 0x40;
  static constexpr uint32_t kHasMaximum = 0x100;
  static constexpr uint32_t kHasMinimum = 0x200;
  static constexpr uint32_t kFirstDropDown = 0x400;
  static constexpr uint32_t kSecondDropDown = 0x800;
  static constexpr uint32_t kWideValueOffsets = 0x1000;

  SectionPlace place;
  std::string name;
  uint32_t flags = 0;
  uint32_t value_count = 0;
  uint64_t value_table = 0;
  uint64_t value_to_subjects_table = 0;
  uint64_t subject_to_values_table = 0;
  // Meaningful for numeric categories; present in every 'C' section.
  uint32_t precision = 0;
  std::string prefix;
  std::string suffix;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.String(s.name) && io.U32(s.flags) && io.U32(s.value_count) && io.Table(s.value_table) &&
           io.Table(s.value_to_subjects_table) && io.Table(s.subject_to_values_table) &&
           io.U32(s.precision) && io.String(s.prefix) && io.String(s.suffix);
  }
};

struct SelectionEntry {
  uint32_t member_count = 0;
  std::string name;
};

struct SelectionSection {
  static constexpr uint8_t kTag = 'L';
  static constexpr const char* kName = "selections";
  enum Table { kMemberTable };

  SectionPlace place;
  uint64_t member_table = 0;
  // Written uncompressed; as many as the header's selection count.
  std::vector<SelectionEntry> selections;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Table(s.member_table) && io.List(s.selections, [](Io& each, auto& entry) {
      return each.U32(entry.member_count) && each.String(entry.name);
    });
  }
};

struct HeadingSection {
  static constexpr uint8_t kTag = 'S';
  static constexpr const char* kName = "headings";
  enum Table { kHeadingTable, kAnchorTable };

  SectionPlace place;
  uint64_t heading_table = 0;
  uint64_t anchor_table = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Table(s.heading_table) && io.Table(s.anchor_table);
  }
};

struct LookupSection {
  static constexpr uint8_t kTag = 'Q';
  static constexpr const char* kName = "sorted lookup";
  enum Table { kLookupTable };

  SectionPlace place;
  uint32_t prefix_length = 3;
  uint64_t group_count = 0;
  uint64_t lookup_table = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.U32(s.prefix_length) && io.Off(s.group_count) && io.Table(s.lookup_table);
  }
};

struct PositionSection {
  static constexpr uint8_t kTag = 'Z';
  static constexpr const char* kName = "text positions";
  enum Table { kPositionTable };

  SectionPlace place;
  uint64_t position_table = 0;
  uint64_t text_total = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Table(s.position_table) && io.Off(s.text_total);
  }
};

struct TextSection {
  static constexpr uint8_t kTag = 'U';
  static constexpr const char* kName = "texts";
  enum Table { kTextTable };

  SectionPlace place;
  uint64_t text_table = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Table(s.text_table);
  }
};

struct ReservedTextSection {
  static constexpr uint8_t kTag = 'E';
  static constexpr const char* kName = "reserved texts";

  SectionPlace place;
  uint64_t reserved = 0;  // always 0

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Off(s.reserved);
  }
};

struct PictureSection {
  static constexpr uint8_t kTag = 'P';
  static constexpr const char* kName = "pictures";
  enum Table { kDirectoryTable, kDataTable };

  SectionPlace place;
  uint64_t directory_table = 0;
  uint64_t data_table = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Table(s.directory_table) && io.Table(s.data_table);
  }
};

struct SearchIndexSection {
  static constexpr uint8_t kTag = 'F';
  static constexpr const char* kName = "search index";
  enum Table { kIndexTable };

  SectionPlace place;
  uint32_t key_length = 3;
  uint32_t key_count = 0;
  uint32_t segment_count = 0;  // a multiple of 8
  uint64_t index_table = 0;

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.U32(s.key_length) && io.U32(s.key_count) && io.U32(s.segment_count) &&
           io.Table(s.index_table);
  }
};

struct BookmarkSection {
  static constexpr uint8_t kTag = 'D';
  static constexpr const char* kName = "bookmarks";

  SectionPlace place;
  uint64_t slot_table = 0;  // stream position of the bookmark slot table

  template <class Io, class Self>
  static bool Fields(Io& io, Self& s) {
    return io.Off(s.slot_table);
  }
};

// Any section after 'I' other than 'D': only its tag and next are known.
struct UnknownSection {
  SectionPlace place;

  template <class Io, class Self>
  static bool Fields(Io&, Self&) {
    return true;
  }
};

// What a parser needs besides the bytes.
struct ParseContext {
  OffsetWidth width = OffsetWidth::kNarrow;
  uint64_t stream_size = 0;      // no position may pass it
  uint32_t selection_count = 0;  // the length of the 'L' list
};

// Writes the tag, a placeholder next and the fixed fields of any section
// type above. Defined for exactly those types.
template <class Section>
[[nodiscard]] bool WriteSection(StreamWriter& writer, const Section& section,
                                SectionPatches* patches);

// Parses the section at position, which must carry the section's tag (any
// tag for UnknownSection). Checks that next lies after the fixed fields and
// inside the stream, that every store table lies inside the section after
// the fixed fields, and that no string or list passes the section's end.
template <class Section>
[[nodiscard]] bool ParseSection(const BookFile& file, const ParseContext& context,
                                uint64_t position, Section* section, FormatError* error);

// ---------------------------------------------------------------- 'I'

// The document information block. Each text is a slot of a u32 character
// count and the characters; the limits are the slots' sizes.
struct InfoSection {
  static constexpr uint8_t kTag = 'I';
  static constexpr size_t kTitleLimit = 100;
  static constexpr size_t kAuthorLimit = 100;
  static constexpr size_t kCreatedByLimit = 100;
  static constexpr size_t kUrlLimit = 256;

  SectionPlace place;  // next = position + 2 + 1024 (not stored)
  uint8_t version = kInformationVersion;
  std::string title;
  std::string author;
  std::string created_by;
  std::string url;
  uint32_t version_word = 0;
  uint32_t creation_date = 0;
  uint32_t publication_year = 0;
  uint32_t library_category = 0;
};

// Texts longer than their slot are cut to the slot's limit.
[[nodiscard]] bool WriteInfoSection(StreamWriter& writer, const InfoSection& info);
[[nodiscard]] bool ParseInfoSection(const BookFile& file, uint64_t position, InfoSection* info,
                                    FormatError* error);
// The 1024-byte block alone (both directions), for tests and tools.
std::string EncodeInformationBlock(const InfoSection& info);
void DecodeInformationBlock(const uint8_t* block, InfoSection* info);

}  // namespace fvx::format
