#include "bookformat/book_layout.h"

#include <algorithm>

namespace fvx::format {
namespace {

// Deflate cannot expand data more than 1032 to 1; a count whose entries
// would need more inflated bytes than the whole file could yield is damage,
// and it must not reach a reader that sizes arrays by it.
constexpr uint64_t kMaxInflation = 1100;

bool CountFits(uint64_t count, uint64_t bytes_each, uint64_t stream_size) {
  uint64_t needed, available;
  if (!MulChecked(count, bytes_each, &needed)) return false;
  if (!MulChecked(stream_size, kMaxInflation, &available)) return true;
  return needed <= available + kMaxBlockSize;
}

bool Damaged(FormatError* error, std::string reason) {
  return SetError(error, OpenStatus::kDamaged, std::move(reason));
}

bool CheckHeaderBounds(const HeaderSection& h, uint64_t header_end, uint64_t stream_size,
                       FormatError* error) {
  const uint64_t w = OffsetBytes(h.width());
  if (h.next < header_end || h.next > stream_size) {
    return Damaged(error, "the header's next position " + std::to_string(h.next) +
                              " is outside the book");
  }
  if (h.end_of_book < header_end || h.end_of_book > stream_size) {
    return Damaged(error, "the end of book " + std::to_string(h.end_of_book) +
                              " is outside the file (" + std::to_string(stream_size) + " bytes)");
  }
  // The smallest 'C' section: tag, next, three empty strings, four u32 and
  // three table positions (each table at least its closing OFF).
  const uint64_t smallest_category = 1 + w + 3 * 4 + 4 * 4 + 3 * w + 3 * w;
  if (uint64_t{h.category_count} * smallest_category > stream_size) {
    return Damaged(error, "the category count " + std::to_string(h.category_count) +
                              " cannot fit the file");
  }
  // Each selection is a member count and a name length, uncompressed.
  if (uint64_t{h.selection_count} * 8 > stream_size) {
    return Damaged(error, "the selection count " + std::to_string(h.selection_count) +
                              " cannot fit the file");
  }
  // Inflated bytes each item takes at the least: a heading offset; an
  // anchor's two u32; a picture's directory entry.
  if (!CountFits(h.subject_count, 4, stream_size) || !CountFits(h.anchor_count, 8, stream_size) ||
      !CountFits(h.picture_count, w + 12, stream_size)) {
    return Damaged(error, "the subject, anchor or picture count cannot fit the file");
  }
  return true;
}

// The most inflated bytes each store can hold, from the room its block
// table has: a table runs from its position to the next store's table in the
// same section (or the section's end), and every block takes one entry.
// Nothing is read, so a count that no store could back is refused before
// any reader loops or allocates by it.
std::vector<uint64_t> StoreCapacities(const std::vector<StoreRef>& stores, OffsetWidth width) {
  const uint64_t entry = OffsetBytes(width) + 1;
  std::vector<uint64_t> capacities;
  for (size_t i = 0; i < stores.size(); ++i) {
    const StoreRef& store = stores[i];
    uint64_t end = store.section.next;
    if (i + 1 < stores.size() && stores[i + 1].section.position == store.section.position &&
        stores[i + 1].table_position > store.table_position) {
      end = std::min(end, stores[i + 1].table_position);
    }
    const uint64_t room = end > store.table_position ? end - store.table_position : 0;
    const uint64_t blocks = room >= OffsetBytes(width) ? (room - OffsetBytes(width)) / entry : 0;
    capacities.push_back(blocks * store.block_size);
  }
  return capacities;
}

// Every count of the header and the sections against the store that holds
// its entries: the bytes below are what the readers index by those counts.
bool CheckCountsAgainstStores(const BookLayout& layout, FormatError* error) {
  const std::vector<StoreRef> stores = layout.Stores();
  const std::vector<uint64_t> capacity = StoreCapacities(stores, layout.width());
  const HeaderSection& h = layout.header;
  const uint64_t w = OffsetBytes(layout.width());
  const uint64_t n = h.subject_count;
  uint64_t members = 0;
  for (const SelectionEntry& entry : layout.selections.selections) members += entry.member_count;
  for (size_t i = 0; i < stores.size(); ++i) {
    const StoreRef& store = stores[i];
    const std::string name = store.name;
    uint64_t needed = 0;
    const char* count = "";
    if (store.tag == 'C') {
      const CategorySection& c = layout.categories[store.section_index];
      const uint64_t values = c.value_count;
      count = "value count";
      if (name == "value table") {
        needed = (c.flags & CategorySection::kNumeric)
                     ? values * 8
                     : (values + 1) * (layout.ValueOffsetsWide(c) ? 8 : 4);
      } else if (name == "value-to-subjects table") {
        needed = (values + 1) * 4;
      } else {
        count = "subject count";
        needed = ((c.flags & CategorySection::kMultiple) ? n + 1 : n) * 4;
      }
    } else if (name == "member table") {
      count = "selection member counts";
      needed = members * 4;
    } else if (name == "heading table") {
      count = "subject count";
      needed = (n + 1) * (h.HeadingOffsetsWide() ? 8 : 4);
    } else if (name == "anchor table") {
      count = "anchor count";
      needed = uint64_t{h.anchor_count} * 8;
    } else if (name == "lookup table") {
      count = "subject count";
      needed = (layout.lookup->group_count + 1 + n) * 4;
    } else if (name == "position table") {
      count = "subject count";
      needed = (2 * n + 1) * w;
    } else if (name == "text table") {
      count = "text total";
      needed = layout.positions.text_total;
    } else if (name == "picture directory") {
      count = "picture count";
      needed = uint64_t{h.picture_count} * (w + 12) + w;
    } else if (name == "index table") {
      const SearchIndexSection& f = *layout.search_index;
      count = "search index counts";
      needed = (uint64_t{f.segment_count} + 1) * 4 +
               uint64_t{f.key_count} * (f.key_length + f.segment_count / 8);
    }
    if (needed > capacity[i]) {
      std::string where(1, static_cast<char>(store.tag));
      if (store.tag == 'C') where += " " + std::to_string(store.section_index + 1);
      return Damaged(error, std::string("the ") + count + " needs " + std::to_string(needed) +
                                " bytes of the " + name + " (section " + where +
                                "), which can hold at most " + std::to_string(capacity[i]));
    }
  }
  return true;
}

}  // namespace

std::vector<SectionPlace> BookLayout::Sections() const {
  std::vector<SectionPlace> places;
  places.push_back({HeaderSection::kTag, 0, header.next});
  for (const CategorySection& category : categories) places.push_back(category.place);
  places.push_back(selections.place);
  places.push_back(headings.place);
  if (lookup) places.push_back(lookup->place);
  places.push_back(positions.place);
  places.push_back(texts.place);
  places.push_back(reserved_texts.place);
  places.push_back(pictures.place);
  if (search_index) places.push_back(search_index->place);
  places.push_back(info.place);
  places.insert(places.end(), trailing.begin(), trailing.end());
  return places;
}

std::vector<StoreRef> BookLayout::Stores() const {
  const uint32_t table = header.table_block_size;
  const uint32_t content = header.content_block_size;
  std::vector<StoreRef> stores;
  for (uint32_t i = 0; i < categories.size(); ++i) {
    const CategorySection& c = categories[i];
    stores.push_back({'C', i, "value table", c.value_table, table, c.place});
    stores.push_back({'C', i, "value-to-subjects table", c.value_to_subjects_table, table, c.place});
    stores.push_back({'C', i, "subject-to-values table", c.subject_to_values_table, table, c.place});
  }
  stores.push_back({'L', 0, "member table", selections.member_table, table, selections.place});
  stores.push_back({'S', 0, "heading table", headings.heading_table, table, headings.place});
  stores.push_back({'S', 0, "anchor table", headings.anchor_table, table, headings.place});
  if (lookup) stores.push_back({'Q', 0, "lookup table", lookup->lookup_table, table, lookup->place});
  stores.push_back({'Z', 0, "position table", positions.position_table, table, positions.place});
  stores.push_back({'U', 0, "text table", texts.text_table, content, texts.place});
  stores.push_back(
      {'P', 0, "picture directory", pictures.directory_table, table, pictures.place});
  stores.push_back({'P', 0, "picture data", pictures.data_table, content, pictures.place});
  if (search_index) {
    stores.push_back(
        {'F', 0, "index table", search_index->index_table, content, search_index->place});
  }
  return stores;
}

bool ParseBookLayout(const BookFile& file, BookLayout* layout, FormatError* error) {
  *layout = BookLayout{};
  layout->container = file.container();
  layout->stream_size = file.StreamSize();
  const uint64_t size = layout->stream_size;

  StreamCursor cursor(&file, 0, size);
  HeaderSection& h = layout->header;
  if (!ParseHeader(cursor, &h, error)) return false;
  layout->header_end = cursor.position();
  if (!CheckHeaderBounds(h, layout->header_end, size, error)) return false;

  ParseContext context;
  context.width = h.width();
  context.stream_size = size;
  context.selection_count = h.selection_count;

  uint64_t at = h.next;
  for (uint32_t i = 0; i < h.category_count; ++i) {
    CategorySection category;
    if (!ParseSection(file, context, at, &category, error)) return false;
    if (!CountFits(category.value_count, 4, size)) {
      return Damaged(error, "category " + std::to_string(i) + " has more values than can fit");
    }
    at = category.place.next;
    layout->categories.push_back(std::move(category));
  }
  if (!ParseSection(file, context, at, &layout->selections, error)) return false;
  at = layout->selections.place.next;
  if (!ParseSection(file, context, at, &layout->headings, error)) return false;
  at = layout->headings.place.next;
  if (h.stored_sorted == 0) {
    LookupSection& lookup = layout->lookup.emplace();
    if (!ParseSection(file, context, at, &lookup, error)) return false;
    if (lookup.prefix_length == 0 || lookup.prefix_length > 64 ||
        lookup.group_count > h.subject_count) {
      return Damaged(error, "the sorted lookup's prefix length or group count is impossible");
    }
    at = lookup.place.next;
  }
  if (!ParseSection(file, context, at, &layout->positions, error)) return false;
  if (!CountFits(layout->positions.text_total, 1, size)) {
    return Damaged(error, "the text total cannot fit the file");
  }
  at = layout->positions.place.next;
  if (!ParseSection(file, context, at, &layout->texts, error)) return false;
  at = layout->texts.place.next;
  if (!ParseSection(file, context, at, &layout->reserved_texts, error)) return false;
  at = layout->reserved_texts.place.next;
  if (!ParseSection(file, context, at, &layout->pictures, error)) return false;
  at = layout->pictures.place.next;
  if (h.character_width == 0) {
    SearchIndexSection& index = layout->search_index.emplace();
    if (!ParseSection(file, context, at, &index, error)) return false;
    if (index.key_length == 0 || index.key_length > 64 || index.segment_count % 8 != 0 ||
        !CountFits(index.key_count, uint64_t{index.key_length} + index.segment_count / 8, size) ||
        !CountFits(index.segment_count, 4, size)) {
      return Damaged(error, "the search index's key length, key count or segment count is "
                            "impossible");
    }
    at = index.place.next;
  }
  if (!ParseInfoSection(file, at, &layout->info, error)) return false;
  at = layout->info.place.next;
  if (at > h.end_of_book) {
    return Damaged(error, "the end of book " + std::to_string(h.end_of_book) +
                              " lies before the end of the information section");
  }

  if (!CheckCountsAgainstStores(*layout, error)) return false;

  // Sections added after 'I' are read only while below the end of book.
  while (at < h.end_of_book) {
    ParseContext trailing = context;
    trailing.stream_size = h.end_of_book;
    uint8_t tag;
    if (!file.ReadAt(at, &tag, 1)) return Damaged(error, "the book is cut short");
    SectionPlace place;
    if (tag == BookmarkSection::kTag && !layout->bookmarks) {
      BookmarkSection& bookmarks = layout->bookmarks.emplace();
      if (!ParseSection(file, trailing, at, &bookmarks, error)) return false;
      if (bookmarks.slot_table >= size) {
        return Damaged(error, "the bookmark slot table lies beyond the file");
      }
      place = bookmarks.place;
    } else {
      UnknownSection unknown;
      if (!ParseSection(file, trailing, at, &unknown, error)) return false;
      place = unknown.place;
    }
    layout->trailing.push_back(place);
    at = place.next;
  }
  return true;
}

bool OpenBook(const std::string& path, BookFile* file, BookLayout* layout, FormatError* error) {
  if (!file->Open(path, error)) return false;
  if (!ParseBookLayout(*file, layout, error)) {
    file->Close();
    return false;
  }
  return true;
}

}  // namespace fvx::format
