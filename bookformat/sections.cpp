#include "bookformat/sections.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bookformat/blockstore/block_store.h"

namespace fvx::format {
namespace {

std::string TagText(uint8_t tag) {
  char text[16];
  if (tag >= 0x20 && tag < 0x7F) {
    std::snprintf(text, sizeof text, "'%c'", tag);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", tag);
  }
  return text;
}

std::string At(uint64_t position) { return " at " + std::to_string(position); }

// Writes the fields of a section description.
class FieldWriter {
 public:
  FieldWriter(StreamWriter& writer, SectionPatches* patches) : writer_(writer), patches_(patches) {}

  bool U8(const uint8_t& value) { return Mark() && writer_.WriteU8(value); }
  bool U32(const uint32_t& value) { return Mark() && writer_.WriteU32(value); }
  bool Off(const uint64_t& value) { return Mark() && writer_.WriteOff(value); }
  bool Table(const uint64_t& value) {
    patches_->table_at.push_back(writer_.Position());
    return Mark() && writer_.WriteOff(value);
  }
  bool String(const std::string& text) { return Mark() && writer_.WriteString(text); }
  template <class Item, class Each>
  bool List(const std::vector<Item>& items, Each each) {
    for (const Item& item : items) {
      if (!each(*this, item)) return false;
    }
    return true;
  }

 private:
  bool Mark() {
    patches_->field_at.push_back(writer_.Position());
    return true;
  }

  StreamWriter& writer_;
  SectionPatches* patches_;
};

// Reads the fields of a section description, bounded by the section's end.
class FieldReader {
 public:
  FieldReader(StreamCursor& cursor, OffsetWidth width, uint32_t list_count)
      : cursor_(cursor), width_(width), list_count_(list_count) {}

  bool U8(uint8_t& value) { return cursor_.ReadU8(&value); }
  bool U32(uint32_t& value) { return cursor_.ReadU32(&value); }
  bool Off(uint64_t& value) { return cursor_.ReadOff(width_, &value); }
  bool Table(uint64_t& value) {
    if (!cursor_.ReadOff(width_, &value)) return false;
    tables_.push_back(value);
    return true;
  }
  bool String(std::string& text) { return cursor_.ReadString(&text); }
  // Every entry takes bytes of the section, so a count larger than the
  // section can hold runs out of bytes long before it runs out of memory.
  template <class Item, class Each>
  bool List(std::vector<Item>& items, Each each) {
    items.clear();
    for (uint32_t i = 0; i < list_count_; ++i) {
      items.emplace_back();
      if (!each(*this, items.back())) return false;
    }
    return true;
  }

  const std::vector<uint64_t>& tables() const { return tables_; }

 private:
  StreamCursor& cursor_;
  OffsetWidth width_;
  uint32_t list_count_;
  std::vector<uint64_t> tables_;
};

template <class Section>
constexpr uint8_t ExpectedTag() {
  if constexpr (requires { Section::kTag; }) {
    return Section::kTag;
  } else {
    return 0;
  }
}

template <class Section>
std::string SectionName(uint8_t tag) {
  if constexpr (requires { Section::kName; }) {
    return std::string("section ") + TagText(tag) + " (" + Section::kName + ")";
  } else {
    return std::string("section ") + TagText(tag);
  }
}

}  // namespace

bool FinishSection(StreamWriter& writer, const SectionPatches& patches) {
  return writer.PatchOff(patches.next_at, writer.Position());
}

template <class Section>
bool WriteSection(StreamWriter& writer, const Section& section, SectionPatches* patches) {
  *patches = {};
  patches->position = writer.Position();
  if (!writer.WriteU8(Section::kTag) || !writer.WriteOffPlaceholder(&patches->next_at)) {
    return false;
  }
  FieldWriter io(writer, patches);
  return Section::Fields(io, section) && writer.ok();
}

template <class Section>
bool ParseSection(const BookFile& file, const ParseContext& context, uint64_t position,
                  Section* section, FormatError* error) {
  StreamCursor cursor(&file, position, context.stream_size);
  uint8_t tag = 0;
  uint64_t next = 0;
  const uint8_t expected = ExpectedTag<Section>();
  if (!cursor.ReadU8(&tag)) {
    return SetError(error, OpenStatus::kDamaged,
                    "the book ends where " + SectionName<Section>(expected) + " should begin" +
                        At(position));
  }
  if (expected != 0 && tag != expected) {
    return SetError(error, OpenStatus::kDamaged,
                    "expected " + SectionName<Section>(expected) + At(position) + ", found " +
                        TagText(tag));
  }
  const std::string name = SectionName<Section>(tag);
  if (!cursor.ReadOff(context.width, &next)) {
    return SetError(error, OpenStatus::kDamaged, name + At(position) + " is cut short");
  }
  if (next <= position || next > context.stream_size) {
    return SetError(error, OpenStatus::kDamaged,
                    name + At(position) + " has its next position " + std::to_string(next) +
                        (next <= position ? " before itself" : " beyond the end of the file"));
  }
  cursor.SetLimit(next);
  FieldReader io(cursor, context.width, context.selection_count);
  if (!Section::Fields(io, *section)) {
    return SetError(error, OpenStatus::kDamaged,
                    name + At(position) + ": its fields pass the section's end");
  }
  const uint64_t body = cursor.position();
  const uint64_t entry = OffsetBytes(context.width);
  for (uint64_t table : io.tables()) {
    uint64_t end;
    if (table < body || !AddChecked(table, entry, &end) || end > next) {
      return SetError(error, OpenStatus::kDamaged,
                      name + At(position) + " has a block table position " +
                          std::to_string(table) + " outside the section");
    }
  }
  section->place = {tag, position, next};
  return true;
}

#define FVX_SECTION_TYPE(Type)                                                                    \
  template bool WriteSection<Type>(StreamWriter&, const Type&, SectionPatches*);                 \
  template bool ParseSection<Type>(const BookFile&, const ParseContext&, uint64_t, Type*,        \
                                   FormatError*);
FVX_SECTION_TYPE(CategorySection)
FVX_SECTION_TYPE(SelectionSection)
FVX_SECTION_TYPE(HeadingSection)
FVX_SECTION_TYPE(LookupSection)
FVX_SECTION_TYPE(PositionSection)
FVX_SECTION_TYPE(TextSection)
FVX_SECTION_TYPE(ReservedTextSection)
FVX_SECTION_TYPE(PictureSection)
FVX_SECTION_TYPE(SearchIndexSection)
FVX_SECTION_TYPE(BookmarkSection)
#undef FVX_SECTION_TYPE
template bool ParseSection<UnknownSection>(const BookFile&, const ParseContext&, uint64_t,
                                           UnknownSection*, FormatError*);

// ---------------------------------------------------------------- 'H'

bool WriteHeader(StreamWriter& writer, const HeaderSection& h, HeaderPatches* patches) {
  if (h.version != static_cast<uint8_t>(writer.offset_width())) return false;
  *patches = {};
  bool ok = writer.WriteU8(HeaderSection::kTag);
  patches->next_at = writer.Position();
  ok = ok && writer.WriteU32(h.next) && writer.WriteU8(h.version) &&
       writer.WriteU8(h.character_width);
  patches->stored_sorted_at = writer.Position();
  ok = ok && writer.WriteU8(h.stored_sorted) && writer.WriteU8(h.reserved) &&
       writer.WriteU32(h.table_block_size) && writer.WriteU32(h.content_block_size) &&
       writer.WriteU32(h.subject_count);
  if (h.version == 2) ok = ok && writer.WriteU8(h.wide_heading_offsets);
  ok = ok && writer.WriteU32(h.anchor_count);
  patches->picture_count_at = writer.Position();
  ok = ok && writer.WriteU32(h.picture_count) && writer.WriteU32(h.category_count) &&
       writer.WriteU32(h.selection_count);
  patches->end_of_book_at = writer.Position();
  ok = ok && writer.WriteOff(h.end_of_book) && writer.WriteU32(h.background_colour);
  patches->background_tile_at = writer.Position();
  ok = ok && writer.WriteU32(h.background_tile_picture) && writer.WriteU32(h.text_colour) &&
       writer.WriteU32(h.link_colour) && writer.WriteU32(h.visited_link_colour);
  patches->integrity_area_at = writer.Position();
  ok = ok && writer.WriteBytes(h.integrity_area.data(), h.integrity_area.size()) &&
       writer.WriteString(h.character_set) && writer.WriteU32(h.front_cover_picture) &&
       writer.WriteString(h.front_cover_title) && writer.WriteU32(h.back_cover_picture) &&
       writer.WriteString(h.back_cover_title);
  return ok;
}

bool ParseHeader(StreamCursor& cursor, HeaderSection* h, FormatError* error) {
  const auto cut = [error] {
    return SetError(error, OpenStatus::kDamaged, "the header section is cut short");
  };
  uint8_t tag;
  if (!cursor.ReadU8(&tag)) return cut();
  if (tag != HeaderSection::kTag) {
    return SetError(error, OpenStatus::kDamaged,
                    "the book stream does not start with the header section 'H'");
  }
  if (!cursor.ReadU32(&h->next) || !cursor.ReadU8(&h->version)) return cut();
  if (h->version != 1 && h->version != 2) {
    return SetError(error, OpenStatus::kUnsupportedVersion,
                    "format version " + std::to_string(h->version) +
                        " is not supported (only 1 and 2)");
  }
  const OffsetWidth width = h->width();
  bool ok = cursor.ReadU8(&h->character_width) && cursor.ReadU8(&h->stored_sorted) &&
            cursor.ReadU8(&h->reserved) && cursor.ReadU32(&h->table_block_size) &&
            cursor.ReadU32(&h->content_block_size) && cursor.ReadU32(&h->subject_count);
  h->wide_heading_offsets = 0;
  if (h->version == 2) ok = ok && cursor.ReadU8(&h->wide_heading_offsets);
  ok = ok && cursor.ReadU32(&h->anchor_count) && cursor.ReadU32(&h->picture_count) &&
       cursor.ReadU32(&h->category_count) && cursor.ReadU32(&h->selection_count) &&
       cursor.ReadOff(width, &h->end_of_book) && cursor.ReadU32(&h->background_colour) &&
       cursor.ReadU32(&h->background_tile_picture) && cursor.ReadU32(&h->text_colour) &&
       cursor.ReadU32(&h->link_colour) && cursor.ReadU32(&h->visited_link_colour) &&
       cursor.ReadBytes(h->integrity_area.data(), h->integrity_area.size()) &&
       cursor.ReadString(&h->character_set) && cursor.ReadU32(&h->front_cover_picture) &&
       cursor.ReadString(&h->front_cover_title) && cursor.ReadU32(&h->back_cover_picture) &&
       cursor.ReadString(&h->back_cover_title);
  if (!ok) return cut();
  if (h->character_width > 1) {
    return SetError(error, OpenStatus::kDamaged,
                    "unknown character width " + std::to_string(h->character_width));
  }
  // Every book has these two sizes; any other is damage, and it would size
  // the readers' caches.
  if (h->table_block_size != kTableBlockSize || h->content_block_size != kContentBlockSize) {
    return SetError(error, OpenStatus::kDamaged,
                    "block sizes " + std::to_string(h->table_block_size) + " and " +
                        std::to_string(h->content_block_size) + " are not " +
                        std::to_string(kTableBlockSize) + " and " +
                        std::to_string(kContentBlockSize));
  }
  return true;
}

// ---------------------------------------------------------------- 'I'

namespace {

void PutSlot(std::string* out, const std::string& text, size_t limit) {
  const size_t count = std::min(text.size(), limit);
  PutU32(out, static_cast<uint32_t>(count));
  out->append(text, 0, count);
}

// Older writers stored a too-long text's full length with limit + 1
// characters; the count is believed only as far as characters are there.
bool TakeSlot(const uint8_t* block, size_t* at, size_t limit, std::string* text) {
  text->clear();
  if (kInformationBlockSize - *at < 4) return false;
  const uint32_t count = LoadU32(block + *at);
  *at += 4;
  size_t stored = std::min<size_t>(count, limit + 1);
  stored = std::min(stored, kInformationBlockSize - *at);
  text->assign(reinterpret_cast<const char*>(block + *at), stored);
  *at += stored;
  return true;
}

bool TakeU32(const uint8_t* block, size_t* at, uint32_t* value) {
  *value = 0;
  if (kInformationBlockSize - *at < 4) return false;
  *value = LoadU32(block + *at);
  *at += 4;
  return true;
}

}  // namespace

std::string EncodeInformationBlock(const InfoSection& info) {
  std::string block;
  block.reserve(kInformationBlockSize);
  PutSlot(&block, info.title, InfoSection::kTitleLimit);
  PutSlot(&block, info.author, InfoSection::kAuthorLimit);
  PutSlot(&block, info.created_by, InfoSection::kCreatedByLimit);
  PutSlot(&block, info.url, InfoSection::kUrlLimit);
  PutU32(&block, info.version_word);
  PutU32(&block, info.creation_date);
  PutU32(&block, info.publication_year);
  PutU32(&block, info.library_category);
  for (int i = 0; i < 4; ++i) PutU32(&block, 0);
  block.resize(kInformationBlockSize, '\0');
  return block;
}

void DecodeInformationBlock(const uint8_t* block, InfoSection* info) {
  size_t at = 0;
  (void)(TakeSlot(block, &at, InfoSection::kTitleLimit, &info->title) &&
         TakeSlot(block, &at, InfoSection::kAuthorLimit, &info->author) &&
         TakeSlot(block, &at, InfoSection::kCreatedByLimit, &info->created_by) &&
         TakeSlot(block, &at, InfoSection::kUrlLimit, &info->url) &&
         TakeU32(block, &at, &info->version_word) && TakeU32(block, &at, &info->creation_date) &&
         TakeU32(block, &at, &info->publication_year) &&
         TakeU32(block, &at, &info->library_category));
}

bool WriteInfoSection(StreamWriter& writer, const InfoSection& info) {
  const std::string block = EncodeInformationBlock(info);
  return writer.WriteU8(InfoSection::kTag) && writer.WriteU8(info.version) &&
         writer.WriteBytes(block);
}

bool ParseInfoSection(const BookFile& file, uint64_t position, InfoSection* info,
                      FormatError* error) {
  uint8_t bytes[2 + kInformationBlockSize];
  if (!file.ReadAt(position, bytes, sizeof bytes)) {
    return SetError(error, OpenStatus::kDamaged,
                    "the information section 'I'" + At(position) + " is cut short");
  }
  if (bytes[0] != InfoSection::kTag) {
    return SetError(error, OpenStatus::kDamaged,
                    "expected section 'I' (information)" + At(position) + ", found " +
                        TagText(bytes[0]));
  }
  *info = InfoSection{};
  info->version = bytes[1];
  DecodeInformationBlock(bytes + 2, info);
  info->place = {InfoSection::kTag, position, position + sizeof bytes};
  return true;
}

}  // namespace fvx::format
