#include "compiler/backend/sort_order.h"

#include <algorithm>
#include <string>
#include <vector>

namespace fvx::compiler {
namespace {

unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

}  // namespace

int CompareHeadings(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = Fold(a[i]);
    unsigned char y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool ComputeSortOrder(CompileContext& context, WorkDatabase& db) {
  struct Subject {
    int64_t rowid;
    std::string heading;  // a NULL heading sorts as an empty one
  };
  std::vector<Subject> subjects;
  {
    CSqlQuery count(db);
    if (!count.Query("SELECT COUNT(*) FROM tbl_Para") || !count.Step()) return false;
    int64_t n = 0;
    if (count.ColumnInt(0, n) && n > 0) subjects.reserve(static_cast<size_t>(n));
  }
  {
    CSqlQuery rows(db);
    if (!rows.Query("SELECT ROWID,Heading FROM tbl_Para ORDER BY ROWID")) return false;
    while (rows.Step()) {
      Subject s;
      if (!rows.ColumnInt(0, s.rowid)) return false;
      s.heading = std::string(rows.ColumnText(1).value_or(std::string_view()));
      subjects.push_back(std::move(s));
    }
    if (rows.result() != SQLITE_DONE) return false;
  }
  std::stable_sort(subjects.begin(), subjects.end(), [](const Subject& a, const Subject& b) {
    return CompareHeadings(a.heading, b.heading) < 0;
  });
  if (!db.Begin()) return false;
  CachedStatement update;
  if (!update.Prepare(db.handle(), "UPDATE tbl_Para SET SortOrder = ? WHERE ROWID = ?")) {
    (void)db.End();
    return false;
  }
  bool ok = true;
  for (size_t position = 0; position < subjects.size() && ok; ++position) {
    if (!context.KeepGoing()) {
      ok = false;
      break;
    }
    update.BindInt(1, static_cast<int64_t>(position));
    update.BindInt(2, subjects[position].rowid);
    ok = update.Run() == SQLITE_DONE;
    context.AdvanceProgress(1);
  }
  update.Finalize();
  return db.End() && ok;
}

}  // namespace fvx::compiler
