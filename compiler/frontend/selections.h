// Author-defined selections: named queries over category values, parsed
// from "selection" tags and evaluated into subject sets after the parse.
//
// Call order: the selection actions while the source is parsed; then
// EvaluateSelections once per selection, inside the preparing stage's
// transaction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"
#include "compiler/frontend/categories.h"

namespace fvx::compiler {

struct CQueryItem {
  enum class Kind : uint8_t { kOpen, kClose, kAnd, kOr, kNot, kComparison };
  // Comparison codes, as stored.
  enum Comparison : uint8_t { kLess = 0, kGreater, kLessEqual, kGreaterEqual, kEqual, kNotEqual };

  Kind kind = Kind::kComparison;
  uint32_t category = 0;  // category identifier
  uint8_t comparison = kEqual;
  std::string value;
};

struct Selection {
  uint32_t id = 0;  // ROWID in tbl_Selections; names tbl_SelectSet%d
  std::string name;
  uint32_t line = 0;
  uint32_t column = 0;
  std::vector<CQueryItem> items;
};

class SelectionStore {
 public:
  SelectionStore(CompileContext& context, WorkDatabase& db, CategoryStore& categories)
      : context_(context), db_(db), categories_(categories) {}

  const std::vector<Selection>& selections() const { return selections_; }

  // --- actions; false on a fatal message or a database failure ---
  bool Name(std::string_view name);
  bool BeginQuery();
  bool Open();
  bool Not();
  bool Category(std::string_view name);
  void SetComparison(uint8_t comparison) { comparison_ = comparison; }
  bool Value(std::string_view value);
  bool Close();
  bool And();
  bool Or();
  bool EndQuery();

  // Rearranges query items into postfix order: "!" binds tightest, then
  // "and", then "or"; parentheses group.
  static std::vector<CQueryItem> ToPostfix(const std::vector<CQueryItem>& items);

  // Evaluates one selection into tbl_SelectSet%d (its ROWID). False on a
  // database failure.
  bool Evaluate(const Selection& selection);

 private:
  Selection* Current();
  bool Comparison(const CQueryItem& item, int table);

  CompileContext& context_;
  WorkDatabase& db_;
  CategoryStore& categories_;
  std::vector<Selection> selections_;
  bool query_open_ = false;
  int depth_ = 0;
  uint32_t category_ = 0;
  uint8_t comparison_ = CQueryItem::kEqual;
  int next_scratch_ = 1;
};

}  // namespace fvx::compiler
