// The subjects' heading sort order, computed once after the parse.
#pragma once

#include <string_view>

#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"

namespace fvx::compiler {

// Heading order: bytes compared unsigned after folding A-Z onto a-z (no
// other folding), so digits sort before "_" and "_" before letters; a
// heading that is a prefix of another sorts first.
int CompareHeadings(std::string_view a, std::string_view b);

// Sets tbl_Para.SortOrder (0-based) of every subject in heading order;
// subjects whose headings compare equal keep their source order. Runs in a
// transaction of its own, with KeepGoing and progress per subject.
// REQUIRES: no transaction open. False on cancel or a database failure.
[[nodiscard]] bool ComputeSortOrder(CompileContext& context, WorkDatabase& db);

}  // namespace fvx::compiler
