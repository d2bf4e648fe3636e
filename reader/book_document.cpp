#include "reader/book_document.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bookformat/book_id.h"
#include "reader/filter.h"
#include "reader/search_index.h"
#include "reader/value_format.h"
#include "reader/word_index.h"

namespace fvx::reader {
namespace {

using format::BlockCache;
using format::CategorySection;

constexpr uint32_t kNone = format::kNone32;
constexpr std::string_view kTreeCategoryName = "fvxchildof";
constexpr std::string_view kSelectionsRowName = "Selections";
constexpr std::string_view kFiltersRowName = "Filters";
// Headings and value names are short; a stored length beyond this is damage.
constexpr uint64_t kMaxNameBytes = format::kMaxBlockSize;
// Lists are read this many entries at a time, so that a damaged count fails
// at the first unreadable block instead of sizing a buffer.
constexpr uint64_t kListPiece = 16384;

}  // namespace

BookDocument::BookDocument() { template_ = ParseTemplate(BuiltInPageTemplate()); }

BookDocument::~BookDocument() = default;

// ---------------------------------------------------------------- lifecycle

bool BookDocument::FailOpen(OpenCode* code, OpenCode value, std::string reason) {
  open_failure_ = std::move(reason);
  Close();
  if (code != nullptr) *code = value;
  return false;
}

bool BookDocument::Open(const std::string& path, OpenCode* code) {
  Close();
  format::FormatError error;
  if (!file_.Open(path, &error)) {
    return FailOpen(code, static_cast<OpenCode>(error.status), error.reason);
  }
  path_ = path;
  if (!Finish(code, path)) return false;
  word_index_use_ = true;
  return true;
}

bool BookDocument::OpenBytes(std::string bytes, const std::string& path, OpenCode* code) {
  return OpenSource(std::make_unique<format::MemoryByteSource>(std::move(bytes)), path, code);
}

bool BookDocument::OpenSource(std::unique_ptr<format::ByteSource> source, const std::string& path,
                              OpenCode* code) {
  Close();
  format::FormatError error;
  if (!file_.Open(std::move(source), &error)) {
    return FailOpen(code, static_cast<OpenCode>(error.status), error.reason);
  }
  path_ = path;
  // The bytes need not be that file's: bookmark edits must not go there.
  return Finish(code, std::string());
}

bool BookDocument::Finish(OpenCode* code, const std::string& writable_path) {
  format::FormatError error;
  if (!format::ParseBookLayout(file_, &layout_, &error)) {
    return FailOpen(code, static_cast<OpenCode>(error.status), error.reason);
  }
  const format::HeaderSection& header = layout_.header;
  if (header.character_width != 0) {
    // Two-byte characters are never written by our compiler.
    return FailOpen(code, OpenCode::kUnsupportedVersion, "the book uses two-byte characters");
  }
  width_ = header.width();
  heading_offset_bytes_ = header.HeadingOffsetsWide() ? 8 : 4;
  subject_count_ = header.subject_count;
  table_cache_ = std::make_unique<BlockCache>(&file_, width_, header.table_block_size,
                                              format::kTableCacheBlocks);
  content_cache_ = std::make_unique<BlockCache>(&file_, width_, header.content_block_size,
                                                format::kContentCacheBlocks);
  if (layout_.search_index) {
    index_ = std::make_unique<SearchIndexReader>(content_cache_.get(), *layout_.search_index,
                                                 subject_count_);
  }

  for (uint32_t c = 0; c < layout_.categories.size(); ++c) {
    const uint32_t flags = layout_.categories[c].flags;
    (flags & CategorySection::kInternal ? internal_ : visible_).push_back(c);
    if ((flags & CategorySection::kFirstDropDown) && !first_drop_down_) first_drop_down_ = c;
    if ((flags & CategorySection::kSecondDropDown) && !second_drop_down_) second_drop_down_ = c;
  }
  for (uint32_t c : internal_) {
    if (EqualNoCase(layout_.categories[c].name, kTreeCategoryName)) {
      tree_category_ = c;
      break;
    }
  }
  uint64_t members = 0;
  for (const format::SelectionEntry& entry : layout_.selections.selections) {
    selection_starts_.push_back(members);
    members += entry.member_count;
  }

  // A slot table that cannot be read leaves the book without bookmarks,
  // not unreadable.
  if (!slots_.Load(file_, layout_, writable_path)) slots_.Clear();
  RebuildBookmarks();
  open_ = true;
  open_failure_.clear();
  if (tree_category_ && !GoToRoot()) {
    tree_at_root_ = true;  // a tree without a "root" node lists every subject
  }
  if (code != nullptr) *code = OpenCode::kOk;
  return true;
}

void BookDocument::ResetState() {
  visible_.clear();
  internal_.clear();
  first_drop_down_.reset();
  second_drop_down_.reset();
  selection_starts_.clear();
  slots_.Clear();
  bookmarks_.clear();
  saved_filters_.clear();
  current_.reset();
  text_.clear();
  text_.shrink_to_fit();
  progress_ = 0;
  has_results_ = false;
  results_.clear();
  filter_.clear();
  tree_category_.reset();
  tree_at_root_ = false;
  tree_browsed_ = false;
  tree_path_.clear();
  search_set_up_ = false;
  candidates_.Clear();
  candidate_count_ = tested_ = 0;
  exact_ = false;
  explanation_ = {};
  found_.clear();
  hits_.clear();
  hits_subject_.reset();
}

void BookDocument::Close() {
  index_.reset();
  word_index_.reset();
  word_index_use_ = false;
  word_index_tried_ = false;
  word_index_reason_.clear();
  content_cache_.reset();
  table_cache_.reset();
  file_.Close();
  layout_ = format::BookLayout{};
  subject_count_ = 0;
  open_ = false;
  path_.clear();
  ResetState();
}

std::string BookDocument::BookId() const {
  return open_ ? format::BookIdOf(layout_.header) : std::string();
}

std::optional<std::string> BookDocument::BookIdOfFile(const std::string& path) const {
  return format::BookIdOfFile(path);
}

std::string_view BookDocument::Result(std::string text) {
  result_ = std::move(text);
  return result_;
}

// ---------------------------------------------------------------- rows

std::optional<uint32_t> BookDocument::CoverPicture(bool front) const {
  if (!open_) return std::nullopt;
  const uint32_t picture =
      front ? layout_.header.front_cover_picture : layout_.header.back_cover_picture;
  if (picture == kNone) return std::nullopt;
  return picture;
}

bool BookDocument::HasFrontCover() const { return CoverPicture(true).has_value(); }
bool BookDocument::HasBackCover() const { return CoverPicture(false).has_value(); }

uint32_t BookDocument::PageCount() const {
  if (!open_) return 0;
  return subject_count_ + (HasFrontCover() ? 1 : 0) + (HasBackCover() ? 1 : 0);
}

uint32_t BookDocument::ListRowCount() const {
  return has_results_ ? static_cast<uint32_t>(results_.size()) : PageCount();
}

std::optional<uint32_t> BookDocument::SubjectOfRow(uint32_t row) const {
  if (!open_) return std::nullopt;
  if (has_results_) {
    if (row >= results_.size()) return std::nullopt;
    return results_[row];
  }
  const uint32_t front = HasFrontCover() ? 1 : 0;
  if (row < front) return std::nullopt;
  const uint64_t subject = uint64_t{row} - front;
  if (subject >= subject_count_) return std::nullopt;
  return static_cast<uint32_t>(subject);
}

std::optional<uint32_t> BookDocument::RowOfSubject(uint32_t subject) const {
  if (!open_ || subject >= subject_count_) return std::nullopt;
  if (has_results_) {
    auto it = std::lower_bound(results_.begin(), results_.end(), subject);
    if (it == results_.end() || *it != subject) return std::nullopt;
    return static_cast<uint32_t>(it - results_.begin());
  }
  return subject + (HasFrontCover() ? 1 : 0);
}

std::string_view BookDocument::RowTitle(uint32_t row) {
  if (!open_) return Result({});
  if (std::optional<uint32_t> subject = SubjectOfRow(row)) return Heading(*subject);
  if (has_results_) return Result({});
  if (HasFrontCover() && row == 0) return Result(layout_.header.front_cover_title);
  if (HasBackCover() && row == PageCount() - 1) return Result(layout_.header.back_cover_title);
  return Result({});
}

// ---------------------------------------------------------------- headings

std::string BookDocument::ReadHeading(uint32_t subject, bool* has_anchors, bool* ok) {
  *ok = false;
  if (has_anchors != nullptr) *has_anchors = false;
  if (!open_ || subject >= subject_count_) return {};
  ++heading_reads_;
  const uint64_t table = layout_.headings.heading_table;
  const format::OffsetWidth offsets =
      heading_offset_bytes_ == 8 ? format::OffsetWidth::kWide : format::OffsetWidth::kNarrow;
  uint64_t start, end;
  if (!format::ReadTableOff(*table_cache_, table, subject, offsets, &start) ||
      !format::ReadTableOff(*table_cache_, table, uint64_t{subject} + 1, offsets, &end)) {
    return {};
  }
  const uint64_t list = (uint64_t{subject_count_} + 1) * heading_offset_bytes_;
  if (end < start || end - start > kMaxNameBytes || start > UINT64_MAX - list) return {};
  std::string heading(static_cast<size_t>(end - start), '\0');
  if (!format::ReadStoreBytes(*table_cache_, table, list + start, heading.data(), heading.size())) {
    return {};
  }
  *ok = true;
  if (heading.empty()) return heading;
  uint8_t last = static_cast<uint8_t>(heading.back());
  if (last >= 0x80) {
    if (has_anchors != nullptr) *has_anchors = true;
    last &= 0x7F;
    heading.back() = static_cast<char>(last);
  }
  if (last == 0) heading.pop_back();  // the byte added to carry the flag
  return heading;
}

std::string_view BookDocument::Heading(uint32_t subject, bool* has_anchors) {
  bool ok;
  return Result(ReadHeading(subject, has_anchors, &ok));
}

std::string_view BookDocument::CurrentHeading() {
  if (!current_) return Result({});
  return Heading(*current_);
}

std::optional<uint32_t> BookDocument::SubjectAtSortPosition(uint32_t position) {
  if (!open_ || position >= subject_count_) return std::nullopt;
  if (!layout_.lookup) return position;
  const uint64_t groups = layout_.lookup->group_count;
  uint32_t stored;
  if (!format::ReadTableU32(*table_cache_, layout_.lookup->lookup_table, groups + 1 + position,
                            &stored) ||
      stored >= subject_count_) {
    return std::nullopt;
  }
  return stored;
}

std::optional<uint32_t> BookDocument::LowerBoundSortPosition(std::string_view text) {
  uint32_t low = 0, high = subject_count_;
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    const std::optional<uint32_t> subject = SubjectAtSortPosition(mid);
    if (!subject) return std::nullopt;
    bool ok;
    const std::string heading = ReadHeading(*subject, nullptr, &ok);
    if (!ok) return std::nullopt;
    if (CompareNoCase(heading, text) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

std::optional<uint32_t> BookDocument::FindSubjectByHeading(std::string_view heading) {
  const std::optional<uint32_t> position = LowerBoundSortPosition(heading);
  if (!position) return std::nullopt;
  const std::optional<uint32_t> subject = SubjectAtSortPosition(*position);
  if (!subject) return std::nullopt;
  bool ok;
  if (!EqualNoCase(ReadHeading(*subject, nullptr, &ok), heading)) return std::nullopt;
  return subject;
}

std::optional<uint32_t> BookDocument::HeadingLookup(std::string_view text) {
  if (!open_) return std::nullopt;
  if (has_results_) {
    for (uint32_t row = 0; row < results_.size(); ++row) {
      bool ok;
      if (StartsWithNoCase(ReadHeading(results_[row], nullptr, &ok), text)) return row;
    }
    return std::nullopt;
  }
  const std::optional<uint32_t> position = LowerBoundSortPosition(text);
  if (!position) return std::nullopt;
  const std::optional<uint32_t> subject = SubjectAtSortPosition(*position);
  if (!subject) return std::nullopt;
  return RowOfSubject(*subject);
}

// ---------------------------------------------------------------- subjects

bool BookDocument::TextSpanOf(uint32_t subject, TextSpan* span) {
  if (!open_ || subject >= subject_count_) return false;
  const uint64_t table = layout_.positions.position_table;
  const uint64_t pair = uint64_t{subject} * 2;
  uint64_t start, end, data;
  if (!format::ReadTableOff(*table_cache_, table, pair, width_, &start) ||
      !format::ReadTableOff(*table_cache_, table, pair + 2, width_, &end) ||
      !format::ReadTableOff(*table_cache_, table, pair + 1, width_, &data)) {
    return false;
  }
  if (end < start || end - start > layout_.positions.text_total) return false;
  span->data = data;
  span->length = end - start;
  span->end = end;
  return true;
}

bool BookDocument::LoadSubject(uint32_t subject) {
  TextSpan span;
  if (!TextSpanOf(subject, &span)) return false;
  std::string text;
  // Grown piece by piece: the length is only trusted as far as blocks exist.
  if (!ForEachTextPiece(subject, [&](const uint8_t* bytes, size_t size) {
        text.append(reinterpret_cast<const char*>(bytes), size);
        return true;
      })) {
    return false;
  }
  text_.clear();
  text_.shrink_to_fit();
  text_ = std::move(text);
  current_ = subject;
  const uint64_t total = layout_.positions.text_total;
  progress_ = total == 0 ? 100 : static_cast<int>(std::min<uint64_t>(span.end * 100 / total, 100));
  return true;
}

// ---------------------------------------------------------------- pictures

bool BookDocument::PictureSpan(uint32_t picture, bool small_version, uint64_t* from,
                               uint64_t* to) {
  if (!open_ || picture >= layout_.header.picture_count) return false;
  const uint64_t entry = format::OffsetBytes(width_) + 12;
  const uint64_t table = layout_.pictures.directory_table;
  uint64_t start, next;
  uint32_t small;
  if (!format::ReadStoreOff(*table_cache_, table, picture * entry, width_, &start) ||
      !format::ReadStoreU32(*table_cache_, table, picture * entry + format::OffsetBytes(width_),
                            &small) ||
      !format::ReadStoreOff(*table_cache_, table, (uint64_t{picture} + 1) * entry, width_, &next)) {
    return false;
  }
  if (next < start || small > next - start) return false;
  if (small_version) {
    if (small == 0) return false;
    *from = next - small;
    *to = next;
  } else {
    *from = start;
    *to = next - small;
  }
  return true;
}

uint64_t BookDocument::PictureLength(uint32_t picture, bool small_version) {
  uint64_t from, to;
  return PictureSpan(picture, small_version, &from, &to) ? to - from : 0;
}

uint64_t BookDocument::PictureData(uint32_t picture, bool small_version, void* buffer,
                                   uint64_t capacity) {
  const uint64_t length = PictureLength(picture, small_version);
  if (buffer == nullptr || length == 0) return length;
  if (capacity < length) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t copied = 0;
  if (!ForEachPicturePiece(picture, small_version, [&](const uint8_t* bytes, size_t size) {
        std::memcpy(out + copied, bytes, size);
        copied += size;
        return true;
      })) {
    return 0;
  }
  return copied;
}

int BookDocument::PictureKind(uint32_t picture) {
  uint8_t first = 0;
  bool any = false;
  ForEachPicturePiece(picture, false, [&](const uint8_t* bytes, size_t size) {
    if (size > 0) {
      first = bytes[0];
      any = true;
    }
    return false;  // one byte decides
  });
  if (!any) return 0;
  return first == 0x89 ? 1 : (first == 0xFF ? 2 : 0);
}

// ---------------------------------------------------------------- categories

uint32_t BookDocument::VisibleCategory(uint32_t k) const {
  return k < visible_.size() ? visible_[k] : kNoIndex;
}

uint32_t BookDocument::InternalCategory(uint32_t k) const {
  return k < internal_.size() ? internal_[k] : kNoIndex;
}

std::string_view BookDocument::CategoryName(uint32_t category) {
  if (category >= layout_.categories.size()) return Result({});
  return Result(layout_.categories[category].name);
}

uint32_t BookDocument::CategoryFlags(uint32_t category) const {
  return category < layout_.categories.size() ? layout_.categories[category].flags : 0;
}

uint32_t BookDocument::ValueCount(uint32_t category) const {
  return category < layout_.categories.size() ? layout_.categories[category].value_count : 0;
}

std::optional<double> BookDocument::NumericValue(uint32_t category, uint32_t value) {
  if (category >= layout_.categories.size()) return std::nullopt;
  const CategorySection& c = layout_.categories[category];
  if (!(c.flags & CategorySection::kNumeric) || value >= c.value_count) return std::nullopt;
  uint8_t bytes[8];
  if (!format::ReadStoreBytes(*table_cache_, c.value_table, uint64_t{value} * 8, bytes, 8)) {
    return std::nullopt;
  }
  return format::LoadDouble(bytes);
}

std::string BookDocument::ReadValueName(uint32_t category, uint32_t value, bool* ok) {
  *ok = false;
  if (category >= layout_.categories.size()) return {};
  const CategorySection& c = layout_.categories[category];
  if (value >= c.value_count) return {};
  if (c.flags & CategorySection::kNumeric) {
    const std::optional<double> number = NumericValue(category, value);
    if (!number) return {};
    *ok = true;
    return FormatNumericValue(*number, c.precision, c.prefix, c.suffix);
  }
  const format::OffsetWidth offsets =
      layout_.ValueOffsetsWide(c) ? format::OffsetWidth::kWide : format::OffsetWidth::kNarrow;
  uint64_t start, end;
  if (!format::ReadTableOff(*table_cache_, c.value_table, value, offsets, &start) ||
      !format::ReadTableOff(*table_cache_, c.value_table, uint64_t{value} + 1, offsets, &end)) {
    return {};
  }
  const uint64_t list = (uint64_t{c.value_count} + 1) * format::OffsetBytes(offsets);
  if (end < start || end - start > kMaxNameBytes || start > UINT64_MAX - list) return {};
  std::string name(static_cast<size_t>(end - start), '\0');
  if (!format::ReadStoreBytes(*table_cache_, c.value_table, list + start, name.data(), name.size())) {
    return {};
  }
  *ok = true;
  return name;
}

std::string_view BookDocument::ValueName(uint32_t category, uint32_t value) {
  bool ok;
  return Result(ReadValueName(category, value, &ok));
}

bool BookDocument::ReadU32Run(uint64_t table, uint64_t offset, uint64_t count,
                              std::vector<uint32_t>* out) {
  std::vector<uint8_t> bytes;
  while (count > 0) {
    const uint64_t piece = std::min(count, kListPiece);
    bytes.resize(piece * 4);
    if (!format::ReadStoreBytes(*table_cache_, table, offset, bytes.data(), bytes.size())) {
      return false;
    }
    for (uint64_t i = 0; i < piece; ++i) out->push_back(format::LoadU32(&bytes[i * 4]));
    offset += piece * 4;
    count -= piece;
  }
  return true;
}

bool BookDocument::ValuesOfSubject(uint32_t category, uint32_t subject, ValueList* values) {
  values->clear();
  if (!open_ || category >= layout_.categories.size() || subject >= subject_count_) return false;
  const CategorySection& c = layout_.categories[category];
  const uint64_t table = c.subject_to_values_table;
  if (!(c.flags & CategorySection::kMultiple)) {
    uint32_t value;
    if (!format::ReadTableU32(*table_cache_, table, subject, &value)) return false;
    if (value != kNone && value < c.value_count) values->push_back(value);
    return true;
  }
  uint32_t first, end;
  if (!format::ReadTableU32(*table_cache_, table, subject, &first) ||
      !format::ReadTableU32(*table_cache_, table, uint64_t{subject} + 1, &end)) {
    return false;
  }
  // A subject holds each value at most once.
  if (end < first || end - first > c.value_count) return false;
  std::vector<uint32_t> read;
  const uint64_t list = (uint64_t{subject_count_} + 1) * 4;
  if (!ReadU32Run(table, list + uint64_t{first} * 4, end - first, &read)) return false;
  for (uint32_t value : read) {
    if (value < c.value_count) values->push_back(value);
  }
  return true;
}

bool BookDocument::SubjectsOfValues(uint32_t category, uint32_t first, uint32_t end,
                                    std::vector<uint32_t>* subjects) {
  subjects->clear();
  const CategorySection& c = layout_.categories[category];
  if (first >= end) return true;
  const uint64_t table = c.value_to_subjects_table;
  uint32_t from, to;
  if (!format::ReadTableU32(*table_cache_, table, first, &from) ||
      !format::ReadTableU32(*table_cache_, table, end, &to) || to < from) {
    return false;
  }
  const uint64_t list = (uint64_t{c.value_count} + 1) * 4;
  std::vector<uint32_t> read;
  if (!ReadU32Run(table, list + uint64_t{from} * 4, to - from, &read)) return false;
  for (uint32_t subject : read) {
    if (subject < subject_count_) subjects->push_back(subject);
  }
  SortUnique(subjects);
  return true;
}

std::optional<uint32_t> BookDocument::FindCategory(std::string_view name) {
  for (uint32_t c = 0; c < layout_.categories.size(); ++c) {
    if (EqualNoCase(layout_.categories[c].name, name)) return c;
  }
  return std::nullopt;
}

std::optional<uint32_t> BookDocument::FindValue(uint32_t category, std::string_view name) {
  if (category >= layout_.categories.size()) return std::nullopt;
  const CategorySection& c = layout_.categories[category];
  if (c.flags & CategorySection::kNumeric) {
    // A number as typed, or the value as the page shows it.
    const std::string text(name);
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    const bool parsed = !text.empty() && end == text.c_str() + text.size();
    for (uint32_t v = 0; v < c.value_count; ++v) {
      const std::optional<double> value = NumericValue(category, v);
      if (!value) return std::nullopt;
      if (parsed && *value == number) return v;
      bool ok;
      if (EqualNoCase(ReadValueName(category, v, &ok), name)) return v;
    }
    return std::nullopt;
  }
  // Text values are stored in name order: look there first, then walk.
  uint32_t low = 0, high = c.value_count;
  while (low < high) {
    const uint32_t mid = low + (high - low) / 2;
    bool ok;
    const std::string value = ReadValueName(category, mid, &ok);
    if (!ok) break;
    if (CompareNoCase(value, name) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  bool ok;
  if (low < c.value_count && EqualNoCase(ReadValueName(category, low, &ok), name)) return low;
  for (uint32_t v = 0; v < c.value_count; ++v) {
    if (EqualNoCase(ReadValueName(category, v, &ok), name)) return v;
    if (!ok) return std::nullopt;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- the category list

uint32_t BookDocument::SelectionCount() const {
  return static_cast<uint32_t>(layout_.selections.selections.size());
}

std::string_view BookDocument::SelectionName(uint32_t k) {
  if (k >= SelectionCount()) return Result({});
  return Result(layout_.selections.selections[k].name);
}

uint32_t BookDocument::SelectionMemberCount(uint32_t k) const {
  return k < SelectionCount() ? layout_.selections.selections[k].member_count : 0;
}

bool BookDocument::SelectionMembers(uint32_t k, std::vector<uint32_t>* members) {
  members->clear();
  if (!open_ || k >= SelectionCount()) return false;
  std::vector<uint32_t> read;
  if (!ReadU32Run(layout_.selections.member_table, selection_starts_[k] * 4,
                  layout_.selections.selections[k].member_count, &read)) {
    return false;
  }
  for (uint32_t subject : read) {
    if (subject < subject_count_) members->push_back(subject);
  }
  return true;
}

uint32_t BookDocument::CategoryListRowCount() const {
  if (!open_) return 0;
  return VisibleCategoryCount() + (SelectionCount() > 0 ? 1 : 0) + (SavedFilterCount() > 0 ? 1 : 0);
}

std::string_view BookDocument::CategoryListRowName(uint32_t row) {
  const bool selections = SelectionCount() > 0;
  const bool filters = SavedFilterCount() > 0;
  if (selections && row == 0) return Result(std::string(kSelectionsRowName));
  if (filters && row == (selections ? 1u : 0u)) return Result(std::string(kFiltersRowName));
  if (row >= CategoryListRowCount()) return Result({});
  return CategoryName(visible_[row - (selections ? 1 : 0) - (filters ? 1 : 0)]);
}

uint32_t BookDocument::ListRowValueCount(uint32_t row) {
  const bool selections = SelectionCount() > 0;
  const bool filters = SavedFilterCount() > 0;
  if (row >= CategoryListRowCount()) return 0;
  if (selections && row == 0) return SelectionCount();
  if (filters && row == (selections ? 1u : 0u)) return SavedFilterCount();
  return ValueCount(visible_[row - (selections ? 1 : 0) - (filters ? 1 : 0)]);
}

std::string_view BookDocument::ListRowValueName(uint32_t row, uint32_t value) {
  const bool selections = SelectionCount() > 0;
  const bool filters = SavedFilterCount() > 0;
  if (row >= CategoryListRowCount()) return Result({});
  if (selections && row == 0) return SelectionName(value);
  if (filters && row == (selections ? 1u : 0u)) {
    return Result(value < saved_filters_.size() ? saved_filters_[value] : std::string());
  }
  return ValueName(visible_[row - (selections ? 1 : 0) - (filters ? 1 : 0)], value);
}

bool BookDocument::ApplyListRow(uint32_t row, uint32_t value, FilterMode mode) {
  const bool selections = SelectionCount() > 0;
  const bool filters = SavedFilterCount() > 0;
  if (row >= CategoryListRowCount()) return false;
  if (selections && row == 0) {
    std::vector<uint32_t> members;
    if (!SelectionMembers(value, &members)) return false;
    SortUnique(&members);
    filter_.clear();
    SetResults(std::move(members));
    return true;
  }
  if (filters && row == (selections ? 1u : 0u)) {
    if (value >= saved_filters_.size()) return false;
    return RunFilterExpression(saved_filters_[value]);
  }
  const uint32_t category = visible_[row - (selections ? 1 : 0) - (filters ? 1 : 0)];
  return ApplyFilter(category, value, FilterOperator::kEqual, mode);
}

std::optional<uint32_t> BookDocument::TypeAheadListRow(std::string_view text) {
  const uint32_t rows = CategoryListRowCount();
  for (uint32_t row = 0; row < rows; ++row) {
    if (StartsWithNoCase(CategoryListRowName(row), text)) return row;
  }
  return std::nullopt;
}

}  // namespace fvx::reader
