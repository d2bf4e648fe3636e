#include "bookformat/sections.h"

#include <gtest/gtest.h>

#include "bookformat/container.h"
#include "bookformat/testing/sample_book.h"
#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

using testing::ContainerFor;

// Runs body against a writer and returns the stream it wrote.
template <class Body>
std::string Written(OffsetWidth width, Body body) {
  platform::File file = platform::CreateScratchFile("fvxtest");
  {
    StreamWriter writer(&file);
    writer.SetOffsetWidth(width);
    body(writer);
    EXPECT_TRUE(writer.Flush());
  }
  std::string bytes(static_cast<size_t>(*file.Size()), '\0');
  EXPECT_TRUE(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

void Open(BookFile* file, const std::string& stream) {
  FormatError error;
  ASSERT_TRUE(file->Open(std::make_unique<MemoryByteSource>(ContainerFor(stream)), &error));
}

// A file whose container holds exactly the stream bytes, nothing after them.
void OpenExact(BookFile* file, const std::string& stream) {
  std::string bytes = *EncodeContainerHeader("test", 0, stream.size()) + stream;
  FormatError error;
  ASSERT_TRUE(file->Open(std::make_unique<MemoryByteSource>(bytes), &error));
}

HeaderSection SampleHeader(uint8_t version) {
  HeaderSection h;
  h.next = 0;
  h.version = version;
  h.stored_sorted = 1;
  h.subject_count = 7;
  h.wide_heading_offsets = version == 2 ? 1 : 0;
  h.anchor_count = 2;
  h.picture_count = 3;
  h.category_count = 0;
  h.selection_count = 0;
  h.end_of_book = 0x123;
  h.background_colour = 0x00FF00;
  h.integrity_area[0] = 0xAA;
  h.integrity_area[19] = 0xBB;
  h.character_set = "utf-8";
  h.front_cover_picture = 1;
  h.front_cover_title = "Front";
  h.back_cover_title = "";
  return h;
}

TEST(HeaderTest, FieldsStandWhereTheBookIdExpectsThem) {
  for (uint8_t version : {1, 2}) {
    const OffsetWidth width = version == 2 ? OffsetWidth::kWide : OffsetWidth::kNarrow;
    HeaderPatches at;
    const HeaderSection header = SampleHeader(version);
    const std::string stream = Written(width, [&](StreamWriter& w) {
      ASSERT_TRUE(WriteHeader(w, header, &at));
    });
    const size_t wide = version == 2 ? 1 : 0;
    const size_t off = OffsetBytes(width);
    EXPECT_EQ(at.next_at, 1u);
    EXPECT_EQ(stream[VersionBytePosition()], char(version));
    EXPECT_EQ(at.stored_sorted_at, 7u);
    EXPECT_EQ(at.picture_count_at, 25u + wide);
    EXPECT_EQ(at.end_of_book_at, 37u + wide);
    EXPECT_EQ(at.background_tile_at, 41u + wide + off);
    EXPECT_EQ(at.integrity_area_at, IntegrityAreaPosition(version));
    EXPECT_EQ(uint8_t(stream[at.integrity_area_at]), 0xAA);
    EXPECT_EQ(stream.size(),
              at.integrity_area_at + 56 + (4 + 5) + 4 + (4 + 5) + 4 + (4 + 0));
    if (version == 2) {
      EXPECT_EQ(stream[21], '\x01');  // wide heading offsets
    }

    BookFile file;
    Open(&file, stream);
    StreamCursor cursor(&file, 0, stream.size());
    HeaderSection parsed;
    FormatError error;
    ASSERT_TRUE(ParseHeader(cursor, &parsed, &error)) << error.reason;
    EXPECT_EQ(cursor.position(), stream.size());
    EXPECT_EQ(parsed.subject_count, 7u);
    EXPECT_EQ(parsed.end_of_book, 0x123u);
    EXPECT_EQ(parsed.HeadingOffsetsWide(), version == 2);
    EXPECT_EQ(parsed.character_set, "utf-8");
    EXPECT_EQ(parsed.front_cover_title, "Front");
    EXPECT_EQ(parsed.back_cover_picture, kNone32);
    EXPECT_EQ(parsed.integrity_area, header.integrity_area);
  }
}

TEST(HeaderTest, EveryTruncationFailsCleanly) {
  HeaderPatches at;
  const std::string stream = Written(OffsetWidth::kWide, [&](StreamWriter& w) {
    ASSERT_TRUE(WriteHeader(w, SampleHeader(2), &at));
  });
  for (size_t length = 0; length < stream.size(); ++length) {
    BookFile file;
    OpenExact(&file, stream.substr(0, length));
    StreamCursor cursor(&file, 0, length);
    HeaderSection parsed;
    FormatError error;
    EXPECT_FALSE(ParseHeader(cursor, &parsed, &error)) << length;
    EXPECT_EQ(error.status, OpenStatus::kDamaged) << length;
  }
}

TEST(HeaderTest, VersionsOtherThanOneAndTwoAreUnsupported) {
  for (uint8_t version : {0, 3, 255}) {
    std::string stream = Written(OffsetWidth::kNarrow, [&](StreamWriter& w) {
      HeaderPatches at;
      ASSERT_TRUE(WriteHeader(w, SampleHeader(1), &at));
    });
    stream[VersionBytePosition()] = static_cast<char>(version);
    BookFile file;
    Open(&file, stream);
    StreamCursor cursor(&file, 0, stream.size());
    HeaderSection parsed;
    FormatError error;
    EXPECT_FALSE(ParseHeader(cursor, &parsed, &error));
    EXPECT_EQ(error.status, OpenStatus::kUnsupportedVersion) << int(version);
  }
}

TEST(HeaderTest, WrongTagAndImpossibleBlockSizesAreDamage) {
  std::string stream = Written(OffsetWidth::kNarrow, [&](StreamWriter& w) {
    HeaderPatches at;
    HeaderSection h = SampleHeader(1);
    h.content_block_size = kMaxBlockSize + 1;
    ASSERT_TRUE(WriteHeader(w, h, &at));
  });
  for (int flip : {0, 1}) {
    std::string bytes = stream;
    if (flip == 0) bytes[0] = 'h';
    BookFile file;
    Open(&file, bytes);
    StreamCursor cursor(&file, 0, bytes.size());
    HeaderSection parsed;
    FormatError error;
    EXPECT_FALSE(ParseHeader(cursor, &parsed, &error));
    EXPECT_EQ(error.status, OpenStatus::kDamaged);
  }
}

TEST(HeaderTest, WriterRefusesAWidthThatDisagreesWithTheVersion) {
  Written(OffsetWidth::kNarrow, [&](StreamWriter& w) {
    HeaderPatches at;
    EXPECT_FALSE(WriteHeader(w, SampleHeader(2), &at));
  });
}

// ---------------------------------------------------------------- sections with next

CategorySection SampleCategory() {
  CategorySection c;
  c.name = "Colour";
  c.flags = CategorySection::kMultiple | CategorySection::kFirstDropDown;
  c.value_count = 3;
  c.precision = 2;
  c.prefix = "$";
  c.suffix = "USD";
  return c;
}

// A category section with stores standing for the three tables.
std::string CategoryStream(OffsetWidth width, SectionPatches* patches) {
  return Written(width, [&](StreamWriter& w) {
    ASSERT_TRUE(w.WriteZeros(5));  // the section need not start at 0
    ASSERT_TRUE(WriteSection(w, SampleCategory(), patches));
    for (uint64_t at : patches->table_at) {
      const uint64_t table = w.Position();
      ASSERT_TRUE(w.WriteOff(table));  // an empty store
      ASSERT_TRUE(w.PatchOff(at, table));
    }
    ASSERT_TRUE(FinishSection(w, *patches));
  });
}

TEST(SectionTest, CategoryLayoutToTheByte) {
  SectionPatches patches;
  const std::string stream = CategoryStream(OffsetWidth::kNarrow, &patches);
  const std::string expected = std::string(5, '\0') + "C" + std::string("\0\0\0\x44", 4) +
                               std::string("\0\0\0\x06", 4) + "Colour" +
                               std::string("\0\0\x04\x02", 4) + std::string("\0\0\0\x03", 4) +
                               std::string("\0\0\0\x38\0\0\0\x3C\0\0\0\x40", 12) +
                               std::string("\0\0\0\x02", 4) + std::string("\0\0\0\x01", 4) + "$" +
                               std::string("\0\0\0\x03", 4) + "USD" +
                               std::string("\0\0\0\x38\0\0\0\x3C\0\0\0\x40", 12);
  EXPECT_EQ(stream, expected);
  EXPECT_EQ(stream.size(), 0x44u);
  EXPECT_EQ(patches.position, 5u);
  EXPECT_EQ(patches.next_at, 6u);
  ASSERT_EQ(patches.table_at.size(), 3u);
  EXPECT_EQ(patches.field_at,
            (std::vector<uint64_t>{10, 20, 24, 28, 32, 36, 40, 44, 49}));

  BookFile file;
  Open(&file, stream);
  ParseContext context{OffsetWidth::kNarrow, stream.size(), 0};
  CategorySection parsed;
  FormatError error;
  ASSERT_TRUE(ParseSection(file, context, 5, &parsed, &error)) << error.reason;
  EXPECT_EQ(parsed.name, "Colour");
  EXPECT_EQ(parsed.value_to_subjects_table, 0x3Cu);
  EXPECT_EQ(parsed.suffix, "USD");
  EXPECT_EQ(parsed.place.next, stream.size());
}

TEST(SectionTest, WideSectionsWriteEveryOffLowWordFirst) {
  SectionPatches patches;
  const std::string stream = Written(OffsetWidth::kWide, [&](StreamWriter& w) {
    PositionSection z;
    z.text_total = 0x0000000200000001ull;
    ASSERT_TRUE(WriteSection(w, z, &patches));
    const uint64_t table = w.Position();
    ASSERT_TRUE(w.PatchOff(patches.table_at[0], table));
    ASSERT_TRUE(w.WriteOff(table));
    ASSERT_TRUE(FinishSection(w, patches));
  });
  EXPECT_EQ(stream, std::string("Z" "\0\0\0\x21\0\0\0\0" "\0\0\0\x19\0\0\0\0"
                                "\0\0\0\x01\0\0\0\x02" "\0\0\0\x19\0\0\0\0", 33));
}

TEST(SectionTest, EveryTruncationOfEachSectionFailsCleanly) {
  for (OffsetWidth width : {OffsetWidth::kNarrow, OffsetWidth::kWide}) {
    SectionPatches patches;
    const std::string stream = CategoryStream(width, &patches);
    for (size_t length = 0; length < stream.size(); ++length) {
      BookFile file;
      OpenExact(&file, stream.substr(0, length));
      ParseContext context{width, length, 0};
      CategorySection parsed;
      FormatError error;
      EXPECT_FALSE(ParseSection(file, context, 5, &parsed, &error)) << length;
      EXPECT_EQ(error.status, OpenStatus::kDamaged);
    }
  }
}

TEST(SectionTest, SelectionListIsBoundedByTheSection) {
  SectionPatches patches;
  SelectionSection l;
  l.selections = {{3, "first"}, {0, ""}, {12, "third"}};
  const std::string stream = Written(OffsetWidth::kNarrow, [&](StreamWriter& w) {
    ASSERT_TRUE(WriteSection(w, l, &patches));
    const uint64_t table = w.Position();
    ASSERT_TRUE(w.WriteOff(table) && w.PatchOff(patches.table_at[0], table));
    ASSERT_TRUE(FinishSection(w, patches));
  });
  BookFile file;
  Open(&file, stream);
  SelectionSection parsed;
  FormatError error;
  ASSERT_TRUE(ParseSection(file, {OffsetWidth::kNarrow, stream.size(), 3}, 0, &parsed, &error));
  ASSERT_EQ(parsed.selections.size(), 3u);
  EXPECT_EQ(parsed.selections[2].member_count, 12u);
  EXPECT_EQ(parsed.selections[2].name, "third");
  // A header promising more selections than the section holds.
  EXPECT_FALSE(
      ParseSection(file, {OffsetWidth::kNarrow, stream.size(), 0xFFFFFFFF}, 0, &parsed, &error));
}

TEST(SectionTest, InconsistentFieldsAreDamage) {
  SectionPatches patches;
  const std::string good = CategoryStream(OffsetWidth::kNarrow, &patches);
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
  };
  const Case cases[] = {
      {"wrong tag", 5, "S"},
      {"next before itself", 6, std::string("\0\0\0\x05", 4)},
      {"next beyond the file", 6, std::string("\0\0\x10\x00", 4)},
      {"name longer than the section", 10, std::string("\0\0\0\x50", 4)},
      {"huge name length", 10, std::string("\xFF\xFF\xFF\xF0", 4)},
      {"table inside the fixed fields", 28, std::string("\0\0\0\x10", 4)},
      {"table past the section", 32, std::string("\0\0\0\x41", 4)},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    BookFile file;
    Open(&file, bytes);
    CategorySection parsed;
    FormatError error;
    EXPECT_FALSE(ParseSection(file, {OffsetWidth::kNarrow, bytes.size(), 0}, 5, &parsed, &error))
        << c.what;
    EXPECT_EQ(error.status, OpenStatus::kDamaged) << c.what;
    EXPECT_FALSE(error.reason.empty());
  }
}

// ---------------------------------------------------------------- 'I'

TEST(InfoSectionTest, BlockLayoutAndClipping) {
  InfoSection info;
  info.title = std::string(150, 't');  // longer than its slot
  info.author = "A";
  info.url = "http://x";
  info.version_word = 0x01020304;
  info.publication_year = 1999;
  const std::string block = EncodeInformationBlock(info);
  ASSERT_EQ(block.size(), kInformationBlockSize);
  EXPECT_EQ(block.substr(0, 4), std::string("\0\0\0\x64", 4));
  size_t at = 4 + 100;
  EXPECT_EQ(block.substr(at, 5), std::string("\0\0\0\x01" "A", 5));
  at += 5;
  EXPECT_EQ(block.substr(at, 4), std::string(4, '\0'));  // no created-by
  at += 4;
  EXPECT_EQ(block.substr(at, 12), std::string("\0\0\0\x08" "http://x", 12));
  at += 12;
  EXPECT_EQ(block.substr(at, 8), std::string("\x01\x02\x03\x04\0\0\0\0", 8));
  EXPECT_EQ(block.substr(at + 8, 4), std::string("\0\0\x07\xCF", 4));
  EXPECT_EQ(block.find_first_not_of('\0', at + 16 + 4 + 16), std::string::npos);

  InfoSection back;
  DecodeInformationBlock(reinterpret_cast<const uint8_t*>(block.data()), &back);
  EXPECT_EQ(back.title, std::string(100, 't'));
  EXPECT_EQ(back.author, "A");
  EXPECT_EQ(back.url, "http://x");
  EXPECT_EQ(back.publication_year, 1999u);
}

TEST(InfoSectionTest, OverlongCountsAreClippedToTheCharactersPresent) {
  // An older writer's slot: the full count 300, then limit + 1 characters.
  std::string block;
  PutU32(&block, 300);
  block += std::string(101, 'x');
  PutU32(&block, 2);
  block += "ab";
  block.resize(kInformationBlockSize, '\0');
  InfoSection info;
  DecodeInformationBlock(reinterpret_cast<const uint8_t*>(block.data()), &info);
  EXPECT_EQ(info.title, std::string(101, 'x'));
  EXPECT_EQ(info.author, "ab");

  // Counts that would run past the block stop at its end.
  std::string hostile(kInformationBlockSize, '\xFF');
  DecodeInformationBlock(reinterpret_cast<const uint8_t*>(hostile.data()), &info);
  EXPECT_LE(info.title.size() + info.author.size() + info.created_by.size() + info.url.size(),
            kInformationBlockSize);
}

TEST(InfoSectionTest, SectionHasNoNextField) {
  InfoSection info;
  info.title = "T";
  const std::string stream = Written(OffsetWidth::kWide, [&](StreamWriter& w) {
    ASSERT_TRUE(WriteInfoSection(w, info));
  });
  ASSERT_EQ(stream.size(), 2u + kInformationBlockSize);
  EXPECT_EQ(stream.substr(0, 7), std::string("I\x02\0\0\0\x01T", 7));
  BookFile file;
  Open(&file, stream);
  InfoSection parsed;
  FormatError error;
  ASSERT_TRUE(ParseInfoSection(file, 0, &parsed, &error));
  EXPECT_EQ(parsed.title, "T");
  EXPECT_EQ(parsed.place.next, stream.size());
  OpenExact(&file, stream.substr(0, stream.size() - 1));
  EXPECT_FALSE(ParseInfoSection(file, 0, &parsed, &error));
}

}  // namespace
}  // namespace fvx::format
