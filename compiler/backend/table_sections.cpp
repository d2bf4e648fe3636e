#include "compiler/backend/table_sections.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/sections.h"
#include "compiler/backend/sort_check.h"
#include "compiler/backend/store_buffer.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"

namespace fvx::compiler {
namespace {

using format::CategorySection;

struct CategoryRow {
  int64_t id = 0;
  std::string name;
  uint32_t flags = 0;
  uint32_t precision = 0;
  std::string prefix;
  std::string suffix;
};

// (value index, stored subject index) of one assignment.
using Assignment = std::pair<uint32_t, uint32_t>;

bool ReadCategories(WorkDatabase& database, bool sort_categories, std::vector<CategoryRow>* rows) {
  CSqlQuery query(database);
  if (!query.Query("SELECT CatDefID ,Name ,MinVal ,MaxVal ,Flags, PreModifier, PostModifier,"
                   "Precision FROM tbl_CatDef ORDER BY %s",
                   sort_categories ? "SortOrder" : "CatDefID")) {
    return false;
  }
  while (query.Step()) {
    CategoryRow row;
    int64_t flags = 0, precision = 0;
    if (!query.ColumnInt(0, row.id) || !query.ColumnInt(4, flags)) return false;
    (void)query.ColumnInt(7, precision);
    row.name = std::string(query.ColumnText(1).value_or(""));
    row.flags = static_cast<uint32_t>(flags) & ~CategorySection::kWideValueOffsets;
    if (row.flags & CategorySection::kNumeric) {
      row.precision = static_cast<uint32_t>(precision);
      row.prefix = std::string(query.ColumnText(5).value_or(""));
      row.suffix = std::string(query.ColumnText(6).value_or(""));
    }
    rows->push_back(std::move(row));
  }
  return query.result() == SQLITE_DONE;
}

// Writes "first index" entries for groups 0..group_count-1 of sorted
// assignments (grouped by .first), then the total, then each .second.
bool PutGrouped(StoreBuffer& out, const std::vector<Assignment>& sorted, uint32_t group_count) {
  size_t at = 0;
  for (uint32_t group = 0; group < group_count; ++group) {
    while (at < sorted.size() && sorted[at].first < group) ++at;
    if (!out.PutU32(static_cast<uint32_t>(at))) return false;
  }
  if (!out.PutU32(static_cast<uint32_t>(sorted.size()))) return false;
  for (const Assignment& item : sorted) {
    if (!out.PutU32(item.second)) return false;
  }
  return true;
}

bool WriteStore(format::StreamWriter& writer, uint64_t patch_at,
                const std::function<bool(StoreBuffer&)>& fill) {
  format::CBlockStore store(format::kTableBlockSize, &writer, 1);
  StoreBuffer out(store);
  uint64_t table = 0;
  return fill(out) && out.Finish() && store.WriteBlockTable(&table) &&
         writer.PatchOff(patch_at, table);
}

bool WriteCategory(TableJob& job, const CategoryRow& row) {
  CompileContext& context = job.context;
  const bool numeric = (row.flags & CategorySection::kNumeric) != 0;
  const bool multiple = (row.flags & CategorySection::kMultiple) != 0;
  const uint32_t subjects = job.order.subject_count();

  // Values in value order, and each value's index by its identifier.
  std::vector<std::string> texts;
  std::vector<double> numbers;
  std::unordered_map<int64_t, uint32_t> index_of;
  {
    CSqlQuery query(job.database);
    if (!query.Query("SELECT CatValID,CatVal FROM tbl_ValSet%lld ORDER BY SortOrder,CatValID",
                     static_cast<long long>(row.id))) {
      return false;
    }
    while (query.Step()) {
      int64_t id = 0;
      if (!query.ColumnInt(0, id)) return false;
      const auto index = static_cast<uint32_t>(index_of.size());
      if (!index_of.emplace(id, index).second) return false;
      if (numeric) {
        numbers.push_back(query.ColumnDouble(1));
      } else {
        texts.emplace_back(query.ColumnText(1).value_or(""));
      }
    }
    if (query.result() != SQLITE_DONE) return false;
  }
  const auto value_count = static_cast<uint32_t>(index_of.size());

  std::vector<Assignment> by_value;  // (value, subject)
  {
    CSqlQuery query(job.database);
    if (!query.Query("SELECT ParaID,ValueID FROM tbl_ParaProp%lld", static_cast<long long>(row.id))) {
      return false;
    }
    while (query.Step()) {
      if (!context.KeepGoing()) return false;
      int64_t para = 0, value = 0;
      if (!query.ColumnInt(0, para) || !query.ColumnInt(1, value)) return false;
      const uint32_t subject = job.order.StoredIndex(para);
      auto found = index_of.find(value);
      if (subject == SubjectOrder::kInvalid || found == index_of.end()) return false;
      by_value.emplace_back(found->second, subject);
    }
    if (query.result() != SQLITE_DONE) return false;
  }
  std::sort(by_value.begin(), by_value.end());
  by_value.erase(std::unique(by_value.begin(), by_value.end()), by_value.end());
  std::vector<Assignment> by_subject;
  by_subject.reserve(by_value.size());
  for (const Assignment& item : by_value) by_subject.emplace_back(item.second, item.first);
  std::sort(by_subject.begin(), by_subject.end());

  uint64_t characters = 0;
  for (const std::string& text : texts) characters += text.size();
  const format::OffsetWidth width = job.writer.offset_width();
  const bool wide_values = !numeric && characters > UINT32_MAX;
  if (wide_values && width != format::OffsetWidth::kWide) return false;  // the huge rerun widens

  CategorySection section;
  section.name = row.name;
  section.flags = row.flags | (wide_values ? CategorySection::kWideValueOffsets : 0);
  section.value_count = value_count;
  section.precision = row.precision;
  section.prefix = row.prefix;
  section.suffix = row.suffix;
  if (!job.before_section()) return false;
  format::SectionPatches patches;
  if (!format::WriteSection(job.writer, section, &patches)) return false;

  const bool values_ok = WriteStore(
      job.writer, patches.table_at[CategorySection::kValueTable], [&](StoreBuffer& out) {
        if (numeric) {
          for (double number : numbers) {
            if (!out.PutDouble(number)) return false;
          }
          return true;
        }
        uint64_t start = 0;
        const format::OffsetWidth offsets = wide_values ? format::OffsetWidth::kWide
                                                        : format::OffsetWidth::kNarrow;
        for (const std::string& text : texts) {
          if (!out.PutOff(start, offsets)) return false;
          start += text.size();
        }
        if (!out.PutOff(start, offsets)) return false;
        for (const std::string& text : texts) {
          if (!out.PutBytes(text)) return false;
        }
        return true;
      });
  if (!values_ok) return false;
  if (!WriteStore(job.writer, patches.table_at[CategorySection::kValueToSubjectsTable],
                  [&](StoreBuffer& out) { return PutGrouped(out, by_value, value_count); })) {
    return false;
  }
  const bool subjects_ok = WriteStore(
      job.writer, patches.table_at[CategorySection::kSubjectToValuesTable], [&](StoreBuffer& out) {
        if (multiple) return PutGrouped(out, by_subject, subjects);
        size_t at = 0;
        for (uint32_t subject = 0; subject < subjects; ++subject) {
          uint32_t value = format::kNone32;
          // A single-valued category has at most one value per subject; the
          // lowest is kept should the database hold more.
          if (at < by_subject.size() && by_subject[at].first == subject) value = by_subject[at].second;
          while (at < by_subject.size() && by_subject[at].first == subject) ++at;
          if (!out.PutU32(value)) return false;
        }
        return true;
      });
  return subjects_ok && format::FinishSection(job.writer, patches);
}

}  // namespace

bool CountCategories(WorkDatabase& database, uint32_t* count) {
  CSqlQuery query(database);
  return query.Query("SELECT COUNT(*) FROM tbl_CatDef") && query.Step() &&
         query.ColumnUInt(0, *count);
}

bool DropEmptySelections(CompileContext& context, WorkDatabase& database, uint32_t* kept) {
  struct Selection {
    int64_t id = 0, line = 0, column = 0;
    std::string name;
  };
  std::vector<Selection> selections;
  {
    CSqlQuery query(database);
    if (!query.Query("SELECT ROWID,Name,Line,Column FROM tbl_Selections ORDER BY ROWID")) {
      return false;
    }
    while (query.Step()) {
      Selection selection;
      if (!query.ColumnInt(0, selection.id)) return false;
      selection.name = std::string(query.ColumnText(1).value_or(""));
      (void)query.ColumnInt(2, selection.line);
      (void)query.ColumnInt(3, selection.column);
      selections.push_back(std::move(selection));
    }
    if (query.result() != SQLITE_DONE) return false;
  }
  CSqlQuery exec(database);
  if (!exec.Exec("CREATE TABLE tbl_EmptySelections(SelectionID INTEGER PRIMARY KEY)")) return false;
  *kept = 0;
  for (const Selection& selection : selections) {
    if (!context.KeepGoing()) return false;
    CSqlQuery count(database);
    int64_t members = 0;
    if (!count.Query("SELECT COUNT(*) FROM tbl_SelectSet%lld", static_cast<long long>(selection.id)) ||
        !count.Step() || !count.ColumnInt(0, members)) {
      return false;
    }
    count.Finalize();
    if (members > 0) {
      ++*kept;
      continue;
    }
    context.Report(false, Level::kWarning, MessageId::kEmptySelection, "%d:%d:%s",
                   {selection.line, selection.column, selection.name});
    if (!exec.Exec("INSERT INTO tbl_EmptySelections(SelectionID) VALUES(%lld)",
                   static_cast<long long>(selection.id))) {
      return false;
    }
  }
  return exec.Exec("DELETE FROM tbl_Selections WHERE ROWID IN (SELECT SelectionID FROM "
                   "tbl_EmptySelections)") &&
         exec.Exec("DROP TABLE tbl_EmptySelections");
}

bool WriteCategorySections(TableJob& job, bool sort_categories, uint64_t* bytes) {
  std::vector<CategoryRow> rows;
  if (!ReadCategories(job.database, sort_categories, &rows)) return false;
  const uint64_t start = job.writer.Position();
  for (const CategoryRow& row : rows) {
    if (!job.context.KeepGoing()) return false;
    job.context.Report(false, Level::kInformation, MessageId::kProcessingCategory, "%s", {row.name});
    if (!WriteCategory(job, row)) return false;
  }
  *bytes = job.writer.Position() - start;
  return true;
}

bool WriteSelectionSection(TableJob& job) {
  format::SelectionSection section;
  std::vector<int64_t> ids;
  {
    CSqlQuery query(job.database);
    if (!query.Query("SELECT ROWID,Name FROM tbl_Selections ORDER BY ROWID")) return false;
    while (query.Step()) {
      int64_t id = 0;
      if (!query.ColumnInt(0, id)) return false;
      ids.push_back(id);
      format::SelectionEntry entry;
      entry.name = std::string(query.ColumnText(1).value_or(""));
      section.selections.push_back(std::move(entry));
    }
    if (query.result() != SQLITE_DONE) return false;
  }
  for (size_t k = 0; k < ids.size(); ++k) {
    CSqlQuery count(job.database);
    if (!count.Query("SELECT COUNT(*) FROM tbl_SelectSet%lld", static_cast<long long>(ids[k])) ||
        !count.Step() || !count.ColumnUInt(0, section.selections[k].member_count)) {
      return false;
    }
  }
  if (!job.before_section()) return false;
  format::SectionPatches patches;
  if (!format::WriteSection(job.writer, section, &patches)) return false;
  const bool members_ok =
      WriteStore(job.writer, patches.table_at[format::SelectionSection::kMemberTable],
                 [&](StoreBuffer& out) {
                   for (size_t k = 0; k < ids.size(); ++k) {
                     if (!job.context.KeepGoing()) return false;
                     CSqlQuery members(job.database);
                     if (!members.Query("SELECT ParaID FROM tbl_SelectSet%lld ORDER BY ParaID",
                                        static_cast<long long>(ids[k]))) {
                       return false;
                     }
                     uint32_t listed = 0;
                     while (members.Step()) {
                       int64_t para = 0;
                       if (!members.ColumnInt(0, para)) return false;
                       const uint32_t subject = job.order.StoredIndex(para);
                       if (subject == SubjectOrder::kInvalid || !out.PutU32(subject)) return false;
                       ++listed;
                     }
                     if (members.result() != SQLITE_DONE ||
                         listed != section.selections[k].member_count) {
                       return false;
                     }
                   }
                   return true;
                 });
  return members_ok && format::FinishSection(job.writer, patches);
}

}  // namespace fvx::compiler
