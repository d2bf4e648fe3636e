#include "compiler/backend/link_resolver.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "compiler/backend/sort_check.h"
#include "compiler/backend/store_buffer.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"

namespace fvx::compiler {
namespace {

// The link maps, in the order they are built. The two INSERTs may fail
// without ending the stage (the maps then stay empty and every link is
// reported as invalid); every other statement must succeed.
struct MapStatement {
  const char* sql;
  bool may_fail;
};

constexpr MapStatement kLinkMapStatements[] = {
    {"CREATE INDEX idx_LinksHRef ON tbl_Links(HRef)", false},
    {"CREATE INDEX idx_LinksAnchor ON tbl_Links(Anchor)", false},
    {"CREATE INDEX idx_ParaHeading ON tbl_Para(Heading)", false},
    {"CREATE INDEX idx_AnchorsParaHeading ON tbl_Anchors(ParaHeading)", false},
    {"CREATE INDEX idx_AnchorsName ON tbl_Anchors(Name)", false},
    // Statistics for the joins below: without them the planner may walk the
    // anchor-name index, and a name that many anchors share ("top") turns
    // the anchor map into a product of links and anchors.
    {"ANALYZE", false},
    {"CREATE TABLE tbl_LinkMap(LinkID INTEGER,ParaID INTEGER,ParaLine INTEGER,ParaColumn INTEGER)",
     false},
    {"INSERT INTO tbl_LinkMap(LinkID ,ParaID, ParaLine, ParaColumn) SELECT "
     "tbl_Links.ROWID,tbl_Para.ROWID,tbl_Para.Line,tbl_Para.Column FROM tbl_Links,tbl_Para WHERE "
     "tbl_Links.HRef = tbl_Para.Heading",
     true},
    {"CREATE INDEX idx_LinkMapLinkID ON tbl_LinkMap(LinkID)", false},
    {"CREATE TABLE tbl_AnchorMap(LinkID INTEGER ,ParaID INTEGER, AnchorOffset INTEGER,AnchorLine "
     "INTEGER,AnchorColumn INTEGER)",
     false},
    {"INSERT INTO tbl_AnchorMap(LinkID, ParaID, AnchorOffset,AnchorLine,AnchorColumn) SELECT "
     "tbl_Links.ROWID, tbl_Anchors.ParaID, tbl_Anchors.Offset ,tbl_Anchors.Line, "
     "tbl_Anchors.Column FROM  tbl_Links, tbl_Anchors WHERE  tbl_Links.HRef = "
     "tbl_Anchors.ParaHeading AND    tbl_Links.Anchor = tbl_Anchors.Name",
     true},
    {"CREATE INDEX idx_AnchorMapLinkID ON tbl_AnchorMap(LinkID)", false},
};

// The anchors of the anchor table, in stored subject order and text order.
// Equal offsets fall back to the anchors' own order, so that the three walks
// over them list every anchor in the same place.
constexpr const char* kAnchorJoin =
    " FROM tbl_Para,tbl_Anchors WHERE tbl_Para.Heading = tbl_Anchors.ParaHeading ORDER BY "
    "tbl_Para.%s,tbl_Anchors.Offset,tbl_Anchors.ROWID";

// One prepared statement run many times with new parameters: a book has a
// link element per link, and preparing a query for each would dominate the
// text stage.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) == SQLITE_OK;
  }
  void Start(int64_t first, int64_t second = 0) {
    sqlite3_reset(statement_);
    sqlite3_bind_int64(statement_, 1, first);
    if (sqlite3_bind_parameter_count(statement_) >= 2) sqlite3_bind_int64(statement_, 2, second);
    result_ = SQLITE_OK;
  }
  bool Step() {
    result_ = sqlite3_step(statement_);
    return result_ == SQLITE_ROW;
  }
  bool Done() const { return result_ == SQLITE_DONE; }
  int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) {
    const auto* text = sqlite3_column_text(statement_, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int result_ = SQLITE_OK;
};

struct Place {
  int64_t id = 0;  // subject ROWID, or anchor offset
  int64_t line = 0;
  int64_t column = 0;
};

}  // namespace

bool PrepareLinkMaps(WorkDatabase& database) {
  for (const MapStatement& statement : kLinkMapStatements) {
    CSqlQuery query(database);
    if (!query.Exec("%s", statement.sql) && !statement.may_fail) return false;
  }
  return true;
}

bool CountAnchors(WorkDatabase& database, uint32_t* anchor_count) {
  CSqlQuery query(database);
  return query.Query("SELECT COUNT(*) FROM tbl_Para,tbl_Anchors WHERE tbl_Para.Heading = "
                     "tbl_Anchors.ParaHeading") &&
         query.Step() && query.ColumnUInt(0, *anchor_count);
}

bool CollectHasAnchors(CompileContext& context, WorkDatabase& database, uint32_t subject_count,
                       std::vector<bool>* has_anchors) {
  context.Report(false, Level::kInformation, MessageId::kProcessingAnchorInformation);
  has_anchors->assign(subject_count, false);
  CSqlQuery query(database);
  if (!query.Query("SELECT tbl_Para.ROWID FROM tbl_Para,tbl_Anchors WHERE tbl_Para.Heading = "
                   "tbl_Anchors.ParaHeading")) {
    return false;
  }
  while (query.Step()) {
    if (!context.KeepGoing()) return false;
    int64_t rowid = 0;
    if (!query.ColumnInt(0, rowid) || rowid < 1 || rowid > subject_count) return false;
    (*has_anchors)[rowid - 1] = true;
  }
  return query.result() == SQLITE_DONE;
}

bool WriteAnchorStore(CompileContext& context, WorkDatabase& database, const SubjectOrder& order,
                      uint32_t anchor_count, format::CBlockStore& store) {
  context.Report(false, Level::kInformation, MessageId::kWritingAnchorData);
  context.BeginProgress(uint64_t{3} * anchor_count + order.subject_count());
  const std::string join = std::string(kAnchorJoin);
  StoreBuffer out(store);

  // Name offsets and positions.
  uint64_t names_length = 0;
  uint32_t listed = 0;
  {
    CSqlQuery query(database);
    if (!query.Query(("SELECT tbl_Anchors.Name,tbl_Anchors.Offset" + join).c_str(),
                     order.OrderColumn())) {
      return false;
    }
    while (query.Step()) {
      if (!context.KeepGoing()) return false;
      uint32_t position = 0;
      if (!query.ColumnUInt(1, position) || names_length > UINT32_MAX) return false;
      if (!out.PutU32(static_cast<uint32_t>(names_length)) || !out.PutU32(position)) return false;
      names_length += query.ColumnText(0).value_or("").size();
      ++listed;
      context.AdvanceProgress(1);
    }
    if (query.result() != SQLITE_DONE || listed != anchor_count) return false;
  }
  if (names_length > UINT32_MAX || !out.PutU32(static_cast<uint32_t>(names_length))) return false;

  // Each subject's first anchor, subjects in stored order.
  {
    CSqlQuery query(database);
    if (!query.Query(("SELECT tbl_Para.ROWID" + join).c_str(), order.OrderColumn())) return false;
    uint32_t next_subject = 0;
    uint32_t running = 0;
    while (query.Step()) {
      if (!context.KeepGoing()) return false;
      int64_t rowid = 0;
      if (!query.ColumnInt(0, rowid)) return false;
      const uint32_t subject = order.StoredIndex(rowid);
      if (subject == SubjectOrder::kInvalid || subject + 1 < next_subject) return false;
      for (; next_subject <= subject; ++next_subject) {
        if (!out.PutU32(running)) return false;
      }
      ++running;
      context.AdvanceProgress(1);
    }
    if (query.result() != SQLITE_DONE || running != anchor_count) return false;
    for (; next_subject <= order.subject_count(); ++next_subject) {
      if (!out.PutU32(running)) return false;
    }
    context.AdvanceProgress(order.subject_count());
  }

  // The names.
  {
    CSqlQuery query(database);
    if (!query.Query(("SELECT tbl_Anchors.Name" + join).c_str(), order.OrderColumn())) return false;
    while (query.Step()) {
      if (!context.KeepGoing()) return false;
      if (!out.PutBytes(query.ColumnText(0).value_or(""))) return false;
      context.AdvanceProgress(1);
    }
    if (query.result() != SQLITE_DONE) return false;
  }
  context.EndProgress();
  return out.Finish();
}

// ---------------------------------------------------------------- resolving

struct CLinkResolver::Statements {
  Statement subjects;  // the link's candidate subjects, first in the source first
  Statement link;      // the link's own row
  Statement anchors;   // the target's anchors of the link's anchor name
};

CLinkResolver::CLinkResolver(CompileContext& context, WorkDatabase& database,
                             const SubjectOrder& order, bool report_problems)
    : context_(context),
      order_(order),
      report_problems_(report_problems),
      statements_(std::make_unique<Statements>()) {
  prepared_ =
      statements_->subjects.Prepare(database.handle(),
                                    "SELECT ParaID,ParaLine,ParaColumn FROM tbl_LinkMap WHERE "
                                    "LinkID = ?1 ORDER BY ParaID") &&
      statements_->link.Prepare(database.handle(),
                                "SELECT HRef,Anchor,Line,Column FROM tbl_Links WHERE ROWID = ?1") &&
      statements_->anchors.Prepare(database.handle(),
                                   "SELECT AnchorOffset, AnchorLine, AnchorColumn FROM "
                                   "tbl_AnchorMap WHERE LinkID = ?1 AND ParaID = ?2 ORDER BY "
                                   "AnchorOffset, AnchorLine, AnchorColumn");
}

CLinkResolver::~CLinkResolver() = default;

bool CLinkResolver::ReadLink(uint32_t link_record, std::string* href, std::string* anchor,
                             int64_t* line, int64_t* column) {
  Statement& link = statements_->link;
  link.Start(link_record);
  if (!link.Step()) return link.Done();  // a missing row leaves the texts empty
  *href = link.Text(0);
  *anchor = link.Text(1);
  *line = link.Int(2);
  *column = link.Int(3);
  return true;
}

bool CLinkResolver::ResolveLink(uint32_t link_record, ResolvedLink* resolved) {
  if (!prepared_) return false;
  *resolved = ResolvedLink{};
  std::vector<Place> subjects;
  Statement& candidates = statements_->subjects;
  candidates.Start(link_record);
  while (candidates.Step()) {
    subjects.push_back({candidates.Int(0), candidates.Int(1), candidates.Int(2)});
  }
  if (!candidates.Done()) return false;

  std::string href, anchor;
  int64_t line = 0, column = 0;
  if (subjects.empty()) {
    if (!report_problems_) return true;
    if (!ReadLink(link_record, &href, &anchor, &line, &column)) return false;
    context_.Report(false, Level::kWarning, MessageId::kInvalidLink, "%d:%d:%s",
                    {line, column, href});
    return true;
  }
  const Place& target = subjects.front();
  const uint32_t subject = order_.StoredIndex(target.id);
  if (subject == SubjectOrder::kInvalid) return false;
  ++links_processed_;
  resolved->resolved = true;
  resolved->subject = subject;

  std::vector<Place> anchors;
  Statement& named = statements_->anchors;
  named.Start(link_record, target.id);
  while (named.Step()) anchors.push_back({named.Int(0), named.Int(1), named.Int(2)});
  if (!named.Done()) return false;
  if (!anchors.empty()) {
    if (anchors.front().id < 0 || anchors.front().id > UINT32_MAX) return false;
    resolved->anchor_position = static_cast<uint32_t>(anchors.front().id);
  }
  if (!report_problems_) return true;
  if (anchors.size() > 1 || subjects.size() > 1) {
    if (!ReadLink(link_record, &href, &anchor, &line, &column)) return false;
  }
  if (anchors.size() > 1) {
    context_.Report(false, Level::kWarning, MessageId::kAmbiguousAnchor, "%d:%d:%s:%s:%d:%d",
                    {line, column, anchor, anchor, anchors.front().line, anchors.front().column});
    for (size_t i = 1; i < anchors.size(); ++i) {
      context_.Report(false, Level::kWarning, MessageId::kDuplicateAnchor, "%d:%d:%s",
                      {anchors[i].line, anchors[i].column, anchor});
    }
  }
  if (subjects.size() > 1) {
    context_.Report(false, Level::kWarning, MessageId::kAmbiguousSubject, "%d:%d:%s:%s:%d:%d",
                    {line, column, href, href, target.line, target.column});
    for (size_t i = 1; i < subjects.size(); ++i) {
      context_.Report(false, Level::kWarning, MessageId::kDuplicateSubject, "%d:%d:%s",
                      {subjects[i].line, subjects[i].column, href});
    }
  }
  return true;
}

}  // namespace fvx::compiler
