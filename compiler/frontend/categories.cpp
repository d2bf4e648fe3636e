#include "compiler/frontend/categories.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "compiler/frontend/char_class.h"
#include "compiler/frontend/lexer.h"

namespace fvx::compiler {
namespace {

constexpr uint32_t kGivenName = 128;

struct Parameter {
  const char* keyword;
  uint32_t bit;
};
constexpr Parameter kParameters[] = {
    {"type", kCategoryNumeric},       {"multiple", kCategoryMultiple},
    {"displayintext", kCategoryDisplayInText}, {"internal", kCategoryInternal},
    {"required", kCategoryRequired},  {"max", kCategoryHasMax},
    {"min", kCategoryHasMin},         {"dropdowna", kCategoryDropDownA},
    {"dropdownb", kCategoryDropDownB},
};

// Limits as they appear in messages: the shortest form that reads back.
std::string LimitText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

bool ReadsAsNumber(std::string_view text, double& value) {
  bool overflow = false;
  return ParseDecimalNumber(text, value, overflow);
}

}  // namespace

int CompareFolded(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = FoldAsciiCase(static_cast<unsigned char>(a[i]));
    unsigned char y = FoldAsciiCase(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

CCategoryDef* CategoryStore::Find(std::string_view name) {
  auto it = by_name_.find(std::string(name));
  return it == by_name_.end() ? nullptr : it->second;
}

void CategoryStore::BeginDeclaration() {
  current_def_ = nullptr;
  given_ = 0;
  selected_ = 0;
}

bool CategoryStore::DeclareName(std::string_view name) {
  if (name.empty()) {
    context_.ParseError(true, MessageId::kEmptyCategoryName);
    return false;
  }
  if (given_ & kGivenName) {
    context_.ParseError(true, MessageId::kParameterRedefinition, "%s", {"name"});
    return false;
  }
  if (Find(name) != nullptr) {
    context_.ParseError(true, MessageId::kCategoryRedefinition, "%s", {name});
    return false;
  }
  auto def = std::make_unique<CCategoryDef>();
  def->id = static_cast<uint32_t>(defs_.size() + 1);
  def->name = std::string(name);
  def->line = context_.line();
  CSqlQuery query(db_);
  if (!query.Exec("CREATE TABLE tbl_ParaProp%d(ParaID INTEGER,ValueID INTEGER,"
                  "UNIQUE(ParaID,ValueID) )",
                  static_cast<int>(def->id))) {
    context_.SetParseFailed();
    return false;
  }
  given_ |= kGivenName;
  current_def_ = def.get();
  by_name_.emplace(def->name, def.get());
  defs_.push_back(std::move(def));
  context_.Report(false, Level::kInformation, MessageId::kCompilingCatdef, "%s", {name});
  return true;
}

bool CategoryStore::SelectParameter(std::string_view keyword) {
  uint32_t bit = 0;
  for (const Parameter& p : kParameters) {
    if (CompareFolded(keyword, p.keyword) == 0) bit = p.bit;
  }
  if (bit == 0 || current_def_ == nullptr) return true;
  if (given_ & bit) {
    context_.ParseError(true, MessageId::kParameterRedefinition, "%s", {keyword});
    return false;
  }
  if (bit == kCategoryNumeric && current_def_->fixed) {
    context_.ParseError(true, MessageId::kTypeAfterValueSet);
    return false;
  }
  given_ |= bit;
  selected_ = bit;
  return true;
}

void CategoryStore::SetSelectedBit(bool on) {
  CCategoryDef* def = current_def_;
  if (def == nullptr || selected_ == 0) return;
  if (on && (selected_ == kCategoryDropDownA || selected_ == kCategoryDropDownB)) {
    // One category per drop-down list, and one list per category: later
    // claims give way silently.
    uint32_t other = selected_ == kCategoryDropDownA ? kCategoryDropDownB : kCategoryDropDownA;
    if (def->flags & other) return;
    for (const auto& d : defs_) {
      if (d.get() != def && (d->flags & selected_)) return;
    }
  }
  if (on) {
    def->flags |= selected_;
  } else {
    def->flags &= ~selected_;
  }
}

bool CategoryStore::SetLimit(double value) {
  CCategoryDef* def = current_def_;
  if (def == nullptr) return true;
  if (def->fixed) {
    context_.ParseError(true, MessageId::kMaxMinAfterValueSet);
    return false;
  }
  if (selected_ == kCategoryHasMax) {
    if ((def->flags & kCategoryHasMin) && value < def->min) {
      context_.ParseError(true, MessageId::kMaxBelowMin, "%s:%s",
                          {LimitText(value), LimitText(def->min)});
      return false;
    }
    def->max = value;
    def->flags |= kCategoryHasMax;
  } else if (selected_ == kCategoryHasMin) {
    if ((def->flags & kCategoryHasMax) && value > def->max) {
      context_.ParseError(true, MessageId::kMinAboveMax, "%s:%s",
                          {LimitText(value), LimitText(def->max)});
      return false;
    }
    def->min = value;
    def->flags |= kCategoryHasMin;
  }
  return true;
}

bool CategoryStore::AddDefinedValue(std::string_view value) {
  CCategoryDef* def = current_def_;
  if (def == nullptr) return true;
  if (value.empty()) {
    context_.ParseError(false, MessageId::kEmptyString);
    return true;
  }
  std::string normalised = Normalise(*def, value);
  uint32_t number = 0;
  Validate(*def, normalised, Use::kDefinition, number);
  def->fixed = true;
  return true;
}

void CategoryStore::SetPreModifier(std::string_view text) {
  if (current_def_ != nullptr) current_def_->pre_modifier = std::string(text);
}

void CategoryStore::SetPostModifier(std::string_view text) {
  if (current_def_ != nullptr) current_def_->post_modifier = std::string(text);
}

void CategoryStore::SetPrecision(double value) {
  if (current_def_ != nullptr) {
    current_def_->precision = static_cast<int16_t>(static_cast<int64_t>(value));
  }
}

void CategoryStore::BeginSubject() {
  current_set_ = nullptr;
  for (auto& def : defs_) {
    def->assigned = false;
    def->assigned_value.clear();
  }
}

void CategoryStore::SelectCategory(std::string_view name) {
  current_set_ = nullptr;
  if (name.empty()) {
    context_.Report(true, Level::kWarning, MessageId::kEmptyCategoryNameIgnored);
    return;
  }
  current_set_ = Find(name);
  if (current_set_ == nullptr) {
    context_.Report(true, Level::kError, MessageId::kUndefinedCategory, "%s", {name});
  }
}

bool CategoryStore::AssignValue(std::string_view value, uint32_t subject_number) {
  if (value.empty()) {
    context_.Report(true, Level::kError, MessageId::kEmptyCategoryValue);
    return true;
  }
  CCategoryDef* def = current_set_;
  if (def == nullptr) {
    context_.Report(true, Level::kWarning, MessageId::kValueIgnored, "%s", {value});
    return true;
  }
  std::string normalised = Normalise(*def, value);
  uint32_t number = 0;
  if (!Validate(*def, normalised, Use::kAssignment, number)) return true;
  size_t slot = def->id - 1;
  if (insert_value_.size() <= slot) insert_value_.resize(slot + 1);
  if (!insert_value_[slot]) insert_value_[slot] = std::make_unique<CachedStatement>();
  CachedStatement& insert = *insert_value_[slot];
  if (!insert.IsPrepared()) {
    std::string sql =
        "INSERT INTO tbl_ParaProp" + std::to_string(def->id) + "(ParaID,ValueID) VALUES(?,?)";
    if (!insert.Prepare(db_.handle(), sql.c_str())) {
      context_.SetParseFailed();
      return false;
    }
  }
  insert.BindInt(1, subject_number);
  insert.BindInt(2, number);
  int result = insert.Run();
  if (result == SQLITE_CONSTRAINT) {
    context_.Report(true, Level::kWarning, MessageId::kDuplicateValue, "%s", {normalised});
    return true;
  }
  if (result != SQLITE_DONE) {
    context_.SetParseFailed();
    return false;
  }
  return true;
}

std::string CategoryStore::Normalise(const CCategoryDef& def, std::string_view value) {
  if (!def.numeric()) return std::string(value);
  double number = 0;
  if (!ReadsAsNumber(value, number)) return std::string(value);
  // A negative precision has no meaning in a printf conversion; it prints
  // as whole numbers.
  int precision = def.precision < 0 ? 0 : def.precision;
  char pattern[32];
  std::snprintf(pattern, sizeof pattern, "%%.%df", precision);
  std::string printed;
  int needed = std::snprintf(nullptr, 0, pattern, number);
  if (needed < 0) return std::string(value);
  printed.resize(static_cast<size_t>(needed) + 1);
  std::snprintf(printed.data(), printed.size(), pattern, number);
  printed.resize(static_cast<size_t>(needed));
  // A negative number that rounds to zero prints as "-0.00"; the value set
  // stores numbers, where it is the same value as "0.00", so two spellings
  // of one value would collide there. Zero has one text.
  if (printed.size() > 1 && printed[0] == '-' &&
      printed.find_first_not_of("0.", 1) == std::string::npos) {
    printed.erase(0, 1);
  }
  double back = 0;
  if (!ReadsAsNumber(printed, back) || back != number) {
    context_.Report(true, Level::kWarning, MessageId::kValueChangedByPrecision, "%s:%s:%d",
                    {value, printed, precision});
  }
  return printed;
}

bool CategoryStore::Validate(CCategoryDef& def, const std::string& value, Use use,
                             uint32_t& number) {
  if (value.empty()) {
    context_.Report(true, Level::kError, MessageId::kEmptyCategoryValue);
    return false;
  }
  if (def.numeric()) {
    double v = 0;
    if (!ReadsAsNumber(value, v)) {
      context_.Report(true, Level::kWarning, MessageId::kNumericValueIgnored, "%s", {value});
      return false;
    }
    if ((def.flags & kCategoryHasMax) && v > def.max) {
      context_.Report(true, Level::kWarning, MessageId::kValueAboveMax, "%s:%s:%s",
                      {def.name, LimitText(def.max), value});
      return false;
    }
    if ((def.flags & kCategoryHasMin) && v < def.min) {
      context_.Report(true, Level::kError, MessageId::kValueBelowMin, "%s:%s:%s",
                      {def.name, LimitText(def.min), value});
      return false;
    }
  }
  if (use == Use::kAssignment) {
    if (!(def.flags & kCategoryMultiple) && def.assigned) {
      context_.Report(true, Level::kError, MessageId::kSingleValuedCategory, "%s:%s:%s",
                      {def.name, def.assigned_value, value});
      return false;
    }
    if (def.fixed && def.value_numbers.find(value) == def.value_numbers.end()) {
      context_.Report(true, Level::kError, MessageId::kUndefinedValue, "%s:%s",
                      {value, def.name});
      return false;
    }
  }
  auto it = def.value_numbers.find(value);
  if (it == def.value_numbers.end()) {
    def.values.push_back(value);
    number = static_cast<uint32_t>(def.values.size());
    def.value_numbers.emplace(value, number);
  } else {
    number = it->second;
  }
  if (use == Use::kAssignment && !def.assigned) {
    def.assigned = true;
    def.assigned_value = value;
  }
  return true;
}

const CCategoryDef* CategoryStore::MissingRequired() const {
  for (const auto& def : defs_) {
    if ((def->flags & kCategoryRequired) && !def->assigned) return def.get();
  }
  return nullptr;
}

bool CategoryStore::StoreCategories(uint64_t progress_step) {
  std::vector<CCategoryDef*> order;
  for (auto& def : defs_) order.push_back(def.get());
  std::stable_sort(order.begin(), order.end(), [](const CCategoryDef* a, const CCategoryDef* b) {
    return CompareFolded(a->name, b->name) < 0;
  });
  for (size_t position = 0; position < order.size(); ++position) {
    if (!context_.KeepGoing()) return false;
    const CCategoryDef& def = *order[position];
    CSqlQuery query(db_);
    if (!query.Exec("INSERT INTO tbl_CatDef(CatDefID,Name,MinVal,MaxVal,Flags,StartLine,"
                    "PreModifier,PostModifier,Precision,SortOrder) "
                    "VALUES('%d','%q','%.17g','%.17g','%u','%u','%q','%q','%d','%d')",
                    static_cast<int>(def.id), def.name.c_str(), def.min, def.max, def.flags,
                    def.line, def.pre_modifier.c_str(), def.post_modifier.c_str(),
                    static_cast<int>(def.precision), static_cast<int>(position))) {
      return false;
    }
    const char* column = def.numeric() ? "NUMERIC(10,5)" : "TEXT";
    if (!query.Exec("CREATE TABLE tbl_ValSet%d(CatValID INTEGER PRIMARY KEY, CatVal %s "
                    "UNIQUE,SortOrder INTEGER)",
                    static_cast<int>(def.id), column)) {
      return false;
    }
    // Value order: numbers by value, texts without regard to case; equal
    // ones keep the order in which they entered the set.
    std::vector<uint32_t> sorted(def.values.size());
    std::iota(sorted.begin(), sorted.end(), 0u);
    if (def.numeric()) {
      std::vector<double> numbers(def.values.size());
      for (size_t i = 0; i < def.values.size(); ++i) ReadsAsNumber(def.values[i], numbers[i]);
      std::stable_sort(sorted.begin(), sorted.end(),
                       [&](uint32_t a, uint32_t b) { return numbers[a] < numbers[b]; });
    } else {
      std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
        return CompareFolded(def.values[a], def.values[b]) < 0;
      });
    }
    std::string sql = "INSERT INTO tbl_ValSet" + std::to_string(def.id) +
                      "(CatValID,CatVal,SortOrder) VALUES(?,?,?)";
    CachedStatement insert;
    if (!insert.Prepare(db_.handle(), sql.c_str())) return false;
    for (size_t rank = 0; rank < sorted.size(); ++rank) {
      uint32_t index = sorted[rank];
      insert.BindInt(1, index + 1);
      insert.BindText(2, def.values[index]);
      insert.BindInt(3, static_cast<int64_t>(rank));
      if (insert.Run() != SQLITE_DONE) return false;
    }
    context_.AdvanceProgress(progress_step);
  }
  return true;
}

}  // namespace fvx::compiler
