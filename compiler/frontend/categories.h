// Categories: author-declared value sets ("catdef") and their assignment to
// subjects ("catset"), with normalisation, validation and storing.
//
// Call order: the declaration actions while the source's catdef tags are
// parsed (each begins with BeginDeclaration); BeginSubject at every subject
// start; the assignment actions inside subjects; MissingRequired at each
// subject end; StoreCategories once after the parse, inside a transaction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"

namespace fvx::compiler {

enum CategoryFlags : uint32_t {
  kCategoryNumeric = 0x1,
  kCategoryMultiple = 0x2,
  kCategoryDisplayInText = 0x4,
  kCategoryInternal = 0x8,
  kCategoryRequired = 0x40,
  kCategoryHasMax = 0x100,
  kCategoryHasMin = 0x200,
  kCategoryDropDownA = 0x400,
  kCategoryDropDownB = 0x800,
};

struct CCategoryDef {
  uint32_t id = 0;  // from 1, in declaration order; names tbl_ValSet%d, tbl_ParaProp%d
  std::string name;
  uint32_t flags = 0;
  double min = 0.0;
  double max = 0.0;
  int16_t precision = 0;
  std::string pre_modifier;
  std::string post_modifier;
  uint32_t line = 0;  // where it was declared
  // The value set: values[n - 1] has value number n, fixed when it entered.
  std::vector<std::string> values;
  std::unordered_map<std::string, uint32_t> value_numbers;
  bool fixed = false;  // a "values" list was given
  // The current subject's state.
  bool assigned = false;
  std::string assigned_value;

  bool numeric() const { return (flags & kCategoryNumeric) != 0; }
};

class CategoryStore {
 public:
  CategoryStore(CompileContext& context, WorkDatabase& db) : context_(context), db_(db) {}

  const std::vector<std::unique_ptr<CCategoryDef>>& definitions() const { return defs_; }
  CCategoryDef* Find(std::string_view name);

  // --- declaration actions (line-tagged messages at the current position) ---
  void BeginDeclaration();
  // False on a fatal message (the parse fails).
  bool DeclareName(std::string_view name);
  // keyword: "type", "multiple", "displayintext", "internal", "required",
  // "dropdowna", "dropdownb", "max", "min".
  bool SelectParameter(std::string_view keyword);
  void SetSelectedBit(bool on);
  bool SetLimit(double value);
  bool AddDefinedValue(std::string_view value);
  void SetPreModifier(std::string_view text);
  void SetPostModifier(std::string_view text);
  void SetPrecision(double value);

  // --- assignment actions -----------------------------------------------------
  void BeginSubject();
  // A catset tag begins: no category is selected yet.
  void BeginAssignment() { current_set_ = nullptr; }
  void SelectCategory(std::string_view name);
  // False when the database failed (the parse stops).
  bool AssignValue(std::string_view value, uint32_t subject_number);

  // The first required category without a value in the current subject.
  const CCategoryDef* MissingRequired() const;

  // The value text as stored: unchanged for text categories; for numeric
  // ones printed with the category's precision (warning when that changed
  // the number).
  std::string Normalise(const CCategoryDef& def, std::string_view value);

  // REQUIRES: inside a transaction, after the parse. Writes tbl_CatDef and
  // every tbl_ValSet%d. Checks KeepGoing and advances the progress by
  // progress_step per category. False on cancel or a database failure.
  bool StoreCategories(uint64_t progress_step);

 private:
  enum class Use { kDefinition, kAssignment };
  // Validation steps; on success the value joins the set and its number is
  // returned through number.
  bool Validate(CCategoryDef& def, const std::string& value, Use use, uint32_t& number);

  CompileContext& context_;
  WorkDatabase& db_;
  std::vector<std::unique_ptr<CCategoryDef>> defs_;
  std::unordered_map<std::string, CCategoryDef*> by_name_;
  // The declaration being read.
  CCategoryDef* current_def_ = nullptr;
  uint32_t given_ = 0;
  uint32_t selected_ = 0;  // the parameter bit the next value belongs to
  // The assignment being read.
  CCategoryDef* current_set_ = nullptr;
  std::vector<std::unique_ptr<CachedStatement>> insert_value_;  // by id - 1
};

// Orders texts without regard to case: A-Z fold onto a-z, nothing else;
// bytes compare unsigned; a prefix sorts first.
int CompareFolded(std::string_view a, std::string_view b);

}  // namespace fvx::compiler
