// The order in which a book stores its subjects, and the check that tells
// the author whether the source already is in heading order.
//
// Call order per writer run: CheckSortOrder() (messages, the ShouldSort
// question on the first run), BuildPositionMap(), then StoredIndex() and
// OrderBy() from every section; WriteLookupStore() when NeedsLookup().
//
// Headings compare as ComputeSortOrder compares them: byte by byte after
// folding A-Z only, a prefix first, ties in source order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/blockstore/block_store.h"

namespace fvx::compiler {

class CompileContext;
class WorkDatabase;
struct CDocumentProperties;

inline constexpr uint32_t kLookupPrefixLength = 3;

// The first K characters of two headings, compared as the sort compares
// them (A-Z folded, a shorter heading padded with zero bytes).
bool SamePrefix(std::string_view a, std::string_view b, size_t length);

class SubjectOrder {
 public:
  // Runs the sort check and its messages and decides whether subjects are
  // stored sorted. *user_answer carries the ShouldSort answer of the first
  // run into the huge-mode rerun (asked only when first_run and the source
  // did not mention "sortfile"); the rerun reports nothing. huge: continue the walk over every heading
  // and tell whether their stored size reaches 2^32.
  [[nodiscard]] bool CheckSortOrder(CompileContext& context, WorkDatabase& database,
                                    const CDocumentProperties& properties, bool first_run,
                                    bool huge, std::optional<bool>* user_answer);

  // Reads every subject's sort position; the map is dropped when the source
  // order is the sorted order. REQUIRES: CheckSortOrder() ran.
  [[nodiscard]] bool BuildPositionMap(CompileContext& context, WorkDatabase& database);

  uint32_t subject_count() const { return subject_count_; }
  bool sorting_enabled() const { return sorting_enabled_; }
  bool source_sorted() const { return source_sorted_; }
  bool headings_need_wide_offsets() const { return wide_headings_; }
  // The header's stored-sorted byte: no 'Q' when subjects are stored in
  // heading order, either way.
  bool StoredSorted() const { return position_of_.empty() || sorting_enabled_; }
  bool NeedsLookup() const { return !StoredSorted(); }

  // The stored index of a subject (its ROWID), kInvalid for a ROWID that is
  // not a subject's.
  static constexpr uint32_t kInvalid = 0xFFFFFFFF;
  uint32_t StoredIndex(int64_t rowid) const;
  // "SortOrder" or "ROWID": the column that lists subjects in stored order.
  const char* OrderColumn() const { return sorting_enabled_ ? "SortOrder" : "ROWID"; }

  // The 'Q' store (groups of equal 3-character prefixes, the stored index
  // at each sort position, the groups' prefixes). *group_count is known
  // before the store is written, for the section's fixed field.
  [[nodiscard]] bool CountLookupGroups(CompileContext& context, WorkDatabase& database,
                                       uint64_t* group_count);
  [[nodiscard]] bool WriteLookupStore(CompileContext& context, WorkDatabase& database,
                                      format::CBlockStore& store);

 private:
  uint32_t subject_count_ = 0;
  bool sorting_enabled_ = false;
  bool source_sorted_ = true;
  bool wide_headings_ = false;
  std::vector<uint32_t> position_of_;  // ROWID - 1 -> sort position; empty when dropped
  std::vector<uint32_t> group_starts_;  // sort position of each lookup group's first subject
  std::string group_prefixes_;          // K bytes per group
};

}  // namespace fvx::compiler
