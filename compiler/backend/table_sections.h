// The category sections ('C') and the selections section ('L'): tables the
// work database holds, written as compressed table stores.
//
//   C := 'C' OFF:next string:name u32:flags u32:V OFF:values OFF:value-subjects
//        OFF:subject-values u32:precision string:prefix string:suffix
//        values value-subjects subject-values
//   values          := (OFF:start){V+1} chars         -- text; OFF 8 bytes with 0x1000
//                    | double{V}                       -- numeric
//   value-subjects  := u32:first{V+1} u32:subject{assignments}  -- by value, then subject
//   subject-values  := u32:first{subjects+1} u32:value{assignments}  -- multiple
//                    | u32:value-or-none{subjects}                    -- single
//   L := 'L' OFF:next OFF:members (u32:count string:name){selections}
//        u32:subject{members}                          -- by selection, source order
//
// Value order is the category's value sort order (tbl_ValSet%d.SortOrder);
// subject order is stored order.
#pragma once

#include <cstdint>
#include <functional>

#include "bookformat/stream_writer.h"

namespace fvx::compiler {

class CompileContext;
class WorkDatabase;
class SubjectOrder;

struct TableJob {
  CompileContext& context;
  WorkDatabase& database;
  format::StreamWriter& writer;
  const SubjectOrder& order;
  // Called with each section's tag position before the section is written:
  // the offset-width check. False ends the run.
  std::function<bool()> before_section;
};

[[nodiscard]] bool CountCategories(WorkDatabase& database, uint32_t* count);

// Reports every selection that evaluated to an empty set and removes it, so
// that the book (and a huge-mode rerun) lists only the others; *kept is the
// number left.
[[nodiscard]] bool DropEmptySelections(CompileContext& context, WorkDatabase& database,
                                       uint32_t* kept);

// One 'C' section per category, in category order (by sort order when
// sort_categories, else by identifier). *bytes: the sections' total size.
[[nodiscard]] bool WriteCategorySections(TableJob& job, bool sort_categories, uint64_t* bytes);

[[nodiscard]] bool WriteSelectionSection(TableJob& job);

}  // namespace fvx::compiler
