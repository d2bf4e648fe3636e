#include "compiler/frontend/selections.h"

namespace fvx::compiler {
namespace {

const char* SqlOperator(uint8_t comparison) {
  switch (comparison) {
    case CQueryItem::kLess:
      return "<";
    case CQueryItem::kGreater:
      return ">";
    case CQueryItem::kLessEqual:
      return "<=";
    case CQueryItem::kGreaterEqual:
      return ">=";
    case CQueryItem::kNotEqual:
      return "<>";
    default:
      return "=";
  }
}

CQueryItem Operator(CQueryItem::Kind kind) {
  CQueryItem item;
  item.kind = kind;
  return item;
}

}  // namespace

Selection* SelectionStore::Current() {
  return selections_.empty() || !query_open_ ? nullptr : &selections_.back();
}

bool SelectionStore::Name(std::string_view name) {
  query_open_ = false;
  if (name.empty()) {
    context_.ParseError(true, MessageId::kEmptySelectionName);
    return false;
  }
  for (const Selection& s : selections_) {
    if (s.name == name) {
      context_.ParseError(true, MessageId::kSelectionRedefined, "%s", {name});
      return false;
    }
  }
  CSqlQuery query(db_);
  if (!query.Exec("INSERT INTO tbl_Selections(Name,Line,Column) VALUES('%q','%d','%d')",
                  std::string(name).c_str(), static_cast<int>(context_.line()),
                  static_cast<int>(context_.column()))) {
    context_.SetParseFailed();
    return false;
  }
  Selection selection;
  selection.id = static_cast<uint32_t>(query.LastInsertRowId());
  selection.name = std::string(name);
  selection.line = context_.line();
  selection.column = context_.column();
  selections_.push_back(std::move(selection));
  return true;
}

bool SelectionStore::BeginQuery() {
  // A query belongs to the name given before it; without one there is
  // nothing to attach it to.
  if (selections_.empty() || !selections_.back().items.empty()) {
    context_.ParseError(true, MessageId::kEmptySelectionName);
    return false;
  }
  query_open_ = true;
  depth_ = 0;
  return true;
}

bool SelectionStore::Open() {
  ++depth_;
  if (Selection* s = Current()) s->items.push_back(Operator(CQueryItem::Kind::kOpen));
  return true;
}

bool SelectionStore::Not() {
  if (Selection* s = Current()) s->items.push_back(Operator(CQueryItem::Kind::kNot));
  return true;
}

bool SelectionStore::Category(std::string_view name) {
  if (name.empty()) {
    context_.ParseError(true, MessageId::kEmptyCategoryName);
    return false;
  }
  const CCategoryDef* def = categories_.Find(name);
  if (def == nullptr) {
    context_.ParseError(true, MessageId::kUndefinedCategory, "%s", {name});
    return false;
  }
  category_ = def->id;
  comparison_ = CQueryItem::kEqual;
  return true;
}

bool SelectionStore::Value(std::string_view value) {
  if (value.empty()) {
    context_.ParseError(true, MessageId::kEmptyString);
    return false;
  }
  if (Selection* s = Current()) {
    CQueryItem item;
    item.kind = CQueryItem::Kind::kComparison;
    item.category = category_;
    item.comparison = comparison_;
    item.value = std::string(value);
    s->items.push_back(std::move(item));
  }
  return true;
}

bool SelectionStore::Close() {
  if (depth_ == 0) {
    context_.ParseError(true, MessageId::kUnbalancedParenthesis);
    return false;
  }
  --depth_;
  if (Selection* s = Current()) s->items.push_back(Operator(CQueryItem::Kind::kClose));
  return true;
}

bool SelectionStore::And() {
  if (Selection* s = Current()) s->items.push_back(Operator(CQueryItem::Kind::kAnd));
  return true;
}

bool SelectionStore::Or() {
  if (Selection* s = Current()) s->items.push_back(Operator(CQueryItem::Kind::kOr));
  return true;
}

bool SelectionStore::EndQuery() {
  query_open_ = false;
  if (depth_ > 0) {
    context_.ParseError(true, MessageId::kUnbalancedParenthesis);
    return false;
  }
  return true;
}

std::vector<CQueryItem> SelectionStore::ToPostfix(const std::vector<CQueryItem>& items) {
  using Kind = CQueryItem::Kind;
  std::vector<CQueryItem> out;
  std::vector<CQueryItem> stack;
  for (const CQueryItem& item : items) {
    switch (item.kind) {
      case Kind::kComparison:
        out.push_back(item);
        break;
      case Kind::kOpen:
      case Kind::kNot:
        stack.push_back(item);
        break;
      case Kind::kClose:
        while (!stack.empty() && stack.back().kind != Kind::kOpen) {
          out.push_back(stack.back());
          stack.pop_back();
        }
        if (!stack.empty()) stack.pop_back();
        break;
      case Kind::kAnd:
        while (!stack.empty() && stack.back().kind == Kind::kNot) {
          out.push_back(stack.back());
          stack.pop_back();
        }
        stack.push_back(item);
        break;
      case Kind::kOr:
        while (!stack.empty() &&
               (stack.back().kind == Kind::kNot || stack.back().kind == Kind::kAnd)) {
          out.push_back(stack.back());
          stack.pop_back();
        }
        stack.push_back(item);
        break;
    }
  }
  while (!stack.empty()) {
    if (stack.back().kind != Kind::kOpen) out.push_back(stack.back());
    stack.pop_back();
  }
  return out;
}

bool SelectionStore::Comparison(const CQueryItem& item, int table) {
  int category = static_cast<int>(item.category);
  CSqlQuery query(db_);
  return query.Exec(
      "INSERT OR IGNORE INTO tbl_Tmp%d(ParaID) SELECT tbl_ParaProp%d.ParaID FROM "
      "tbl_ParaProp%d,tbl_ValSet%d WHERE tbl_ParaProp%d.ValueID = tbl_ValSet%d.CatValID AND "
      "tbl_ValSet%d.CatVal %s '%q'",
      table, category, category, category, category, category, category,
      SqlOperator(item.comparison), item.value.c_str());
}

bool SelectionStore::Evaluate(const Selection& selection) {
  using Kind = CQueryItem::Kind;
  std::vector<CQueryItem> postfix = ToPostfix(selection.items);
  std::vector<int> stack;  // scratch table numbers
  bool ok = true;
  auto new_table = [&](int& table) {
    table = next_scratch_++;
    CSqlQuery query(db_);
    return query.Exec("CREATE TABLE tbl_Tmp%d(ParaID INTEGER PRIMARY KEY)", table);
  };
  auto drop = [&](int table) {
    CSqlQuery query(db_);
    return query.Exec("DROP TABLE tbl_Tmp%d", table);
  };
  for (const CQueryItem& item : postfix) {
    if (!ok) break;
    if (item.kind == Kind::kComparison) {
      int table = 0;
      ok = new_table(table) && Comparison(item, table);
      stack.push_back(table);
      continue;
    }
    if (item.kind == Kind::kNot) {
      if (stack.empty()) continue;
      int operand = stack.back();
      stack.pop_back();
      int table = 0;
      CSqlQuery query(db_);
      ok = new_table(table) &&
           query.Exec("INSERT INTO tbl_Tmp%d(ParaID) SELECT ROWID FROM tbl_Para WHERE ROWID NOT "
                      "IN (SELECT ParaID FROM tbl_Tmp%d)",
                      table, operand) &&
           drop(operand);
      stack.push_back(table);
      continue;
    }
    if (stack.size() < 2) continue;
    int right = stack.back();
    stack.pop_back();
    int left = stack.back();
    CSqlQuery query(db_);
    if (item.kind == Kind::kOr) {
      ok = query.Exec("INSERT OR IGNORE INTO tbl_Tmp%d(ParaID) SELECT ParaID FROM tbl_Tmp%d",
                      left, right);
    } else {
      ok = query.Exec("DELETE FROM tbl_Tmp%d WHERE ParaID NOT IN (SELECT ParaID FROM tbl_Tmp%d)",
                      left, right);
    }
    ok = ok && drop(right);
  }
  int id = static_cast<int>(selection.id);
  CSqlQuery query(db_);
  ok = ok && query.Exec("CREATE TABLE tbl_SelectSet%d(ParaID INTEGER PRIMARY KEY)", id);
  if (ok && !stack.empty()) {
    ok = query.Exec("INSERT INTO tbl_SelectSet%d(ParaID) SELECT ParaID FROM tbl_Tmp%d", id,
                    stack.back());
  }
  for (int table : stack) ok = drop(table) && ok;
  return ok;
}

}  // namespace fvx::compiler
