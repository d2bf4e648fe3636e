#include "compiler/backend/sort_check.h"

#include <algorithm>

#include "bookformat/search_keys.h"
#include "compiler/backend/store_buffer.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/work_database.h"

namespace fvx::compiler {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

uint8_t PrefixByte(std::string_view text, size_t i) {
  return i < text.size() ? format::FoldCase(static_cast<uint8_t>(text[i])) : 0;
}

}  // namespace

bool SamePrefix(std::string_view a, std::string_view b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (PrefixByte(a, i) != PrefixByte(b, i)) return false;
  }
  return true;
}

bool SubjectOrder::CheckSortOrder(CompileContext& context, WorkDatabase& database,
                                  const CDocumentProperties& properties, bool first_run, bool huge,
                                  std::optional<bool>* user_answer) {
  sorting_enabled_ = properties.sort_file;
  source_sorted_ = true;
  wide_headings_ = false;
  position_of_.clear();
  group_starts_.clear();
  group_prefixes_.clear();

  CSqlQuery count(database);
  if (!count.Query("SELECT COUNT(*) FROM tbl_Para") || !count.Step() ||
      !count.ColumnUInt(0, subject_count_)) {
    return false;
  }

  struct Failing {
    std::string heading;
    int64_t rowid = 0, sort_order = 0, line = 0, column = 0;
  } failing;
  uint64_t heading_bytes = 0;
  CSqlQuery walk(database);
  if (!walk.Query("SELECT ROWID,Heading,SortOrder,Line,Column FROM tbl_Para ORDER BY ROWID")) {
    return false;
  }
  while (walk.Step()) {
    if (!context.KeepGoing()) return false;
    int64_t rowid = 0, sort_order = 0;
    if (!walk.ColumnInt(0, rowid) || !walk.ColumnInt(2, sort_order)) return false;
    const std::string_view heading = walk.ColumnText(1).value_or("");
    if (source_sorted_ && sort_order + 1 != rowid) {
      source_sorted_ = false;
      failing.heading = std::string(heading);
      failing.rowid = rowid;
      failing.sort_order = sort_order;
      (void)walk.ColumnInt(3, failing.line);
      (void)walk.ColumnInt(4, failing.column);
      if (!huge) break;
    }
    if (huge) {
      heading_bytes += heading.size();
      if (!heading.empty() && static_cast<uint8_t>(heading.back()) >= 0x80) ++heading_bytes;
    }
  }
  if (walk.result() != SQLITE_DONE && walk.result() != SQLITE_ROW) return false;
  wide_headings_ = huge && heading_bytes >= kFourGiB;

  if (source_sorted_) {
    if (first_run) context.Report(false, Level::kInformation, MessageId::kAlreadySorted);
    return true;
  }
  if (!properties.sort_file_given && first_run) *user_answer = context.ShouldSort(subject_count_);
  const bool by_user = !properties.sort_file && user_answer->value_or(false);
  if (by_user) sorting_enabled_ = true;
  // The huge-mode rerun decides as the first run did but says nothing: the
  // author has read it all once, and the warning must not count twice.
  if (!first_run) return true;
  context.Report(false, Level::kWarning, MessageId::kSortTestFailed, "%s:%d:%d:%d:%d",
                 {failing.heading, failing.line, failing.column, failing.rowid,
                  failing.sort_order + 1});
  const int64_t low = failing.sort_order == 0 ? 0 : failing.sort_order - 1;
  const int64_t high = failing.sort_order == 0 ? 2 : failing.sort_order + 1;
  CSqlQuery near(database);
  if (!near.Query("SELECT Heading,Line,Column,SortOrder FROM tbl_Para WHERE SortOrder >= %lld AND "
                  "SortOrder <= %lld ORDER BY SortOrder",
                  static_cast<long long>(low), static_cast<long long>(high))) {
    return false;
  }
  while (near.Step()) {
    int64_t line = 0, column = 0, sort_order = 0;
    (void)near.ColumnInt(1, line);
    (void)near.ColumnInt(2, column);
    (void)near.ColumnInt(3, sort_order);
    context.Report(false, Level::kInformation, MessageId::kSortNeighbour, "%d:%s:%d:%d",
                   {sort_order + 1, near.ColumnText(0).value_or(""), line, column});
  }
  if (properties.sort_file) {
    context.Report(false, Level::kInformation, MessageId::kSortBySource);
  } else if (by_user) {
    context.Report(false, Level::kInformation, MessageId::kSortByUser);
  }
  return true;
}

bool SubjectOrder::BuildPositionMap(CompileContext& context, WorkDatabase& database) {
  position_of_.assign(subject_count_, kInvalid);
  CSqlQuery walk(database);
  if (!walk.Query("SELECT ROWID FROM tbl_Para ORDER BY SortOrder")) return false;
  uint32_t position = 0;
  int64_t previous = 0;
  bool rising = true;
  while (walk.Step()) {
    if (!context.KeepGoing()) return false;
    int64_t rowid = 0;
    if (!walk.ColumnInt(0, rowid) || rowid < 1 || rowid > subject_count_ ||
        position >= subject_count_ || position_of_[rowid - 1] != kInvalid) {
      return false;  // subjects must be numbered 1..count, each once
    }
    position_of_[rowid - 1] = position++;
    if (rowid <= previous) rising = false;
    previous = rowid;
  }
  if (walk.result() != SQLITE_DONE || position != subject_count_) return false;
  if (rising) position_of_.clear();
  return true;
}

uint32_t SubjectOrder::StoredIndex(int64_t rowid) const {
  if (rowid < 1 || rowid > subject_count_) return kInvalid;
  if (sorting_enabled_ && !position_of_.empty()) return position_of_[rowid - 1];
  return static_cast<uint32_t>(rowid - 1);
}

bool SubjectOrder::CountLookupGroups(CompileContext& context, WorkDatabase& database,
                                     uint64_t* group_count) {
  context.Report(false, Level::kInformation, MessageId::kProcessingLookupData);
  context.BeginProgress(uint64_t{3} * subject_count_);
  group_starts_.clear();
  group_prefixes_.clear();
  CSqlQuery walk(database);
  if (!walk.Query("SELECT Heading FROM tbl_Para ORDER BY SortOrder")) return false;
  uint32_t position = 0;
  std::string group_heading;
  while (walk.Step()) {
    if (!context.KeepGoing()) return false;
    const std::string_view heading = walk.ColumnText(0).value_or("");
    if (position == 0 || !SamePrefix(heading, group_heading, kLookupPrefixLength)) {
      group_starts_.push_back(position);
      group_heading = std::string(heading.substr(0, kLookupPrefixLength));
      std::string prefix = group_heading;
      prefix.resize(kLookupPrefixLength, '\0');
      group_prefixes_ += prefix;
    }
    ++position;
    context.AdvanceProgress(1);
  }
  if (walk.result() != SQLITE_DONE) return false;
  *group_count = group_starts_.size();
  return true;
}

bool SubjectOrder::WriteLookupStore(CompileContext& context, WorkDatabase& database,
                                    format::CBlockStore& store) {
  StoreBuffer out(store);
  for (uint32_t start : group_starts_) {
    if (!out.PutU32(start)) return false;
  }
  if (!out.PutU32(subject_count_)) return false;
  CSqlQuery walk(database);
  if (!walk.Query("SELECT ROWID FROM tbl_Para ORDER BY SortOrder")) return false;
  while (walk.Step()) {
    if (!context.KeepGoing()) return false;
    int64_t rowid = 0;
    if (!walk.ColumnInt(0, rowid) || rowid < 1) return false;
    if (!out.PutU32(static_cast<uint32_t>(rowid - 1))) return false;
    context.AdvanceProgress(1);
  }
  if (walk.result() != SQLITE_DONE) return false;
  if (!out.PutBytes(group_prefixes_)) return false;
  context.AdvanceProgress(subject_count_);
  context.EndProgress();
  return out.Finish();
}

}  // namespace fvx::compiler
