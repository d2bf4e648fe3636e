#include "compiler/backend/link_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include "compiler/base/compile_context.h"
#include "compiler/base/work_database.h"
#include "platform/file.h"
#include "platform/html_escape.h"

namespace fvx::compiler {
namespace {

// The subject a link stands in: the last subject whose heading comes before
// the link in the source. Subjects are in source order, so their positions
// only grow.
int64_t OwningSubject(const std::vector<LinkReport::Subject>& subjects, int64_t line,
                      int64_t column) {
  auto after = std::upper_bound(subjects.begin(), subjects.end(), std::make_pair(line, column),
                                [](const std::pair<int64_t, int64_t>& place,
                                   const LinkReport::Subject& subject) {
                                  return place < std::make_pair(subject.line, subject.column);
                                });
  return static_cast<int64_t>(after - subjects.begin()) - 1;
}

bool ReadSubjects(CompileContext& context, WorkDatabase& database,
                  std::vector<LinkReport::Subject>* subjects) {
  CSqlQuery query(database);
  if (!query.Query("SELECT Heading,Line,Column FROM tbl_Para ORDER BY ROWID")) return false;
  uint32_t rows = 0;
  while (query.Step()) {
    if (++rows % 5001 == 0 && !context.KeepGoing()) return false;
    LinkReport::Subject subject;
    subject.heading = std::string(query.ColumnText(0).value_or(""));
    if (!query.ColumnInt(1, subject.line) || !query.ColumnInt(2, subject.column)) return false;
    subjects->push_back(std::move(subject));
  }
  return query.result() == SQLITE_DONE;
}

// The anchors of each anchored link's subject that carry its anchor name
// (the writer's anchor map), in the order the writer takes the first.
bool CollectAmbiguousAnchors(
    CompileContext& context, WorkDatabase& database,
    const std::map<int64_t, std::pair<int64_t, LinkReport::Link>>& anchored, LinkReport* report) {
  if (anchored.empty()) return true;
  CSqlQuery query(database);
  if (!query.Query("SELECT LinkID,ParaID,AnchorLine,AnchorColumn FROM tbl_AnchorMap ORDER BY "
                   "LinkID,AnchorOffset,AnchorLine,AnchorColumn")) {
    return false;
  }
  LinkReport::AmbiguousAnchor current;
  int64_t current_id = 0;
  uint32_t rows = 0;
  auto finish = [&] {
    if (current.anchors.size() > 1) report->ambiguous_anchors.push_back(current);
  };
  while (query.Step()) {
    if (++rows % 5001 == 0 && !context.KeepGoing()) return false;
    int64_t id = 0, subject = 0, line = 0, column = 0;
    if (!query.ColumnInt(0, id) || !query.ColumnInt(1, subject) || !query.ColumnInt(2, line) ||
        !query.ColumnInt(3, column)) {
      return false;
    }
    auto link = anchored.find(id);
    if (link == anchored.end() || subject - 1 != link->second.first) continue;
    if (id != current_id) {
      finish();
      current_id = id;
      current = LinkReport::AmbiguousAnchor();
      current.link = link->second.second;
      current.target = link->second.first;
    }
    current.anchors.emplace_back(line, column);
  }
  if (query.result() != SQLITE_DONE) return false;
  finish();
  return true;
}

}  // namespace

bool CollectLinkReport(CompileContext& context, WorkDatabase& database, LinkReport* report) {
  std::vector<LinkReport::Subject>& subjects = report->subjects;
  subjects.clear();
  report->broken.clear();
  report->ambiguous.clear();
  report->links_here.clear();
  report->ambiguous_anchors.clear();
  if (!ReadSubjects(context, database, &subjects)) return false;

  // Every link with its candidates (the writer's link map), one row per
  // candidate, a row with a NULL candidate for a link that has none.
  CSqlQuery query(database);
  if (!query.Query("SELECT tbl_Links.ROWID,HRef,Anchor,Line,Column,ParaID FROM tbl_Links LEFT "
                   "JOIN tbl_LinkMap ON tbl_LinkMap.LinkID = tbl_Links.ROWID ORDER BY "
                   "tbl_Links.ROWID,ParaID")) {
    return false;
  }
  std::map<int64_t, std::vector<LinkReport::Link>> incoming;
  // Links that name an anchor, by link row: the subject they went to.
  std::map<int64_t, std::pair<int64_t, LinkReport::Link>> anchored;
  int64_t current = 0;
  LinkReport::Link link;
  std::vector<int64_t> candidates;
  uint32_t rows = 0;
  auto finish = [&] {
    if (current == 0) return;
    if (candidates.empty()) {
      report->broken.push_back(link);
      return;
    }
    incoming[candidates.front()].push_back(link);
    if (candidates.size() > 1) report->ambiguous.push_back({link, candidates});
    if (!link.anchor.empty()) anchored[current] = {candidates.front(), link};
  };
  while (query.Step()) {
    if (++rows % 5001 == 0 && !context.KeepGoing()) return false;
    int64_t id = 0;
    if (!query.ColumnInt(0, id)) return false;
    if (id != current) {
      finish();
      current = id;
      candidates.clear();
      link = LinkReport::Link();
      link.href = std::string(query.ColumnText(1).value_or(""));
      link.anchor = std::string(query.ColumnText(2).value_or(""));
      if (!query.ColumnInt(3, link.line) || !query.ColumnInt(4, link.column)) return false;
      link.from = OwningSubject(subjects, link.line, link.column);
    }
    int64_t candidate = 0;
    if (query.ColumnText(5).value_or("").empty()) continue;  // no subject of that name
    if (!query.ColumnInt(5, candidate) || candidate < 1 ||
        candidate > static_cast<int64_t>(subjects.size())) {
      return false;
    }
    candidates.push_back(candidate - 1);
  }
  if (query.result() != SQLITE_DONE) return false;
  finish();
  for (auto& [target, links] : incoming) report->links_here.push_back({target, std::move(links)});
  return CollectAmbiguousAnchors(context, database, anchored, report) && context.IsRunning();
}

namespace {

std::string Number(int64_t value) { return std::to_string(value); }

// "Heading (line 12)", linked to the subject's entry in "what links here"
// when it has one.
class SubjectNames {
 public:
  explicit SubjectNames(const LinkReport& report)
      : report_(report), has_entry_(report.subjects.size(), false) {
    for (const LinkReport::LinksHere& entry : report.links_here) {
      has_entry_[static_cast<size_t>(entry.target)] = true;
    }
  }
  std::string operator()(int64_t index) const {
    if (index < 0 || index >= static_cast<int64_t>(report_.subjects.size())) {
      return "<i>before the first subject</i>";
    }
    const LinkReport::Subject& s = report_.subjects[static_cast<size_t>(index)];
    const std::string line = " <span class=line>(line " + Number(s.line) + ")</span>";
    if (!has_entry_[static_cast<size_t>(index)]) return platform::HtmlEscaped(s.heading) + line;
    return "<a href=\"#s" + Number(index) + "\">" + platform::HtmlEscaped(s.heading) + "</a>" + line;
  }

 private:
  const LinkReport& report_;
  std::vector<bool> has_entry_;
};

std::string LinkText(const LinkReport::Link& link) {
  std::string out = "&quot;" + platform::HtmlEscaped(link.href) + "&quot;";
  if (!link.anchor.empty()) out += " anchor &quot;" + platform::HtmlEscaped(link.anchor) + "&quot;";
  return out;
}

std::string Where(const LinkReport::Link& link) {
  return "<td class=line>" + Number(link.line) + ":" + Number(link.column) + "</td>";
}

}  // namespace

std::string LinkReportHtml(const LinkReport& report) {
  const SubjectNames name(report);
  const std::string title =
      report.title.empty() ? std::string("Link report") : "Link report: " + report.title;
  std::string out;
  out += "<!DOCTYPE html>\n<html><head><meta charset=\"";
  out += platform::HtmlEscaped(report.charset.empty() ? "windows-1252" : report.charset);
  out += "\">\n<title>" + platform::HtmlEscaped(title) + "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fff}\n"
         "table{border-collapse:collapse;margin-bottom:1em}\n"
         "td,th{border:1px solid #ccc;padding:2px 8px;text-align:left;vertical-align:top}\n"
         "th{background:#eee}.line{color:#666;font-variant-numeric:tabular-nums}\n"
         "h2{border-bottom:2px solid #999}h3{margin-bottom:0.3em}\n"
         "</style></head><body>\n";
  out += "<h1>" + platform::HtmlEscaped(title) + "</h1>\n";
  out += "<p>" + Number(static_cast<int64_t>(report.subjects.size())) + " subjects, " +
         Number(static_cast<int64_t>(report.broken.size())) + " links that point nowhere, " +
         Number(static_cast<int64_t>(report.ambiguous.size())) + " ambiguous links.</p>\n";

  out += "<h2 id=broken>Links that point nowhere</h2>\n";
  if (report.broken.empty()) {
    out += "<p>None.</p>\n";
  } else {
    out += "<table><tr><th>Line:Col</th><th>Link</th><th>In subject</th></tr>\n";
    for (const LinkReport::Link& link : report.broken) {
      out += "<tr class=broken>" + Where(link) + "<td>" + LinkText(link) + "</td><td>" +
             name(link.from) + "</td></tr>\n";
    }
    out += "</table>\n";
  }

  out += "<h2 id=ambiguous>Ambiguous links</h2>\n";
  if (report.ambiguous.empty()) {
    out += "<p>None.</p>\n";
  } else {
    out += "<table><tr><th>Line:Col</th><th>Link</th><th>In subject</th><th>Candidates (the "
           "first is taken)</th></tr>\n";
    for (const LinkReport::Ambiguous& a : report.ambiguous) {
      out += "<tr class=ambiguous>" + Where(a.link) + "<td>" + LinkText(a.link) + "</td><td>" +
             name(a.link.from) + "</td><td>";
      for (size_t i = 0; i < a.candidates.size(); ++i) {
        if (i > 0) out += "<br>";
        out += name(a.candidates[i]);
      }
      out += "</td></tr>\n";
    }
    out += "</table>\n";
  }

  out += "<h2 id=ambiguous-anchors>Ambiguous anchors</h2>\n";
  if (report.ambiguous_anchors.empty()) {
    out += "<p>None.</p>\n";
  } else {
    out += "<table><tr><th>Line:Col</th><th>Link</th><th>In subject</th><th>Target</th><th>Anchors "
           "of that name (the first is taken)</th></tr>\n";
    for (const LinkReport::AmbiguousAnchor& a : report.ambiguous_anchors) {
      out += "<tr class=ambiguous-anchor>" + Where(a.link) + "<td>" + LinkText(a.link) + "</td><td>" +
             name(a.link.from) + "</td><td>" + name(a.target) + "</td><td>";
      for (size_t i = 0; i < a.anchors.size(); ++i) {
        if (i > 0) out += "<br>";
        out += "line " + Number(a.anchors[i].first) + ", column " + Number(a.anchors[i].second);
      }
      out += "</td></tr>\n";
    }
    out += "</table>\n";
  }

  out += "<h2 id=links-here>What links here</h2>\n";
  if (report.links_here.empty()) out += "<p>No subject is linked to.</p>\n";
  for (const LinkReport::LinksHere& entry : report.links_here) {
    const LinkReport::Subject& target = report.subjects[static_cast<size_t>(entry.target)];
    out += "<h3 id=s" + Number(entry.target) + ">" + platform::HtmlEscaped(target.heading) +
           " <span class=line>(line " + Number(target.line) + ", " +
           Number(static_cast<int64_t>(entry.links.size())) + " links)</span></h3>\n";
    out += "<table class=links-here><tr><th>Line:Col</th><th>From subject</th></tr>\n";
    for (const LinkReport::Link& link : entry.links) {
      out += "<tr>" + Where(link) + "<td>" + name(link.from) + "</td></tr>\n";
    }
    out += "</table>\n";
  }
  out += "</body></html>\n";
  return out;
}

bool WriteLinkReport(const LinkReport& report, const std::string& path) {
  const std::string page = LinkReportHtml(report);
  platform::File file = platform::File::Open(path, platform::File::Mode::kCreateTruncate);
  return file.IsOpen() && file.Write(page.data(), page.size());
}

bool LinkReportBackEnd::WriteBook(BookWriteJob& job, bool retry, bool& overflow) {
  ok_ = false;
  if (!writer_.WriteBook(job, retry, overflow)) return false;
  report_ = LinkReport();
  report_.title = job.properties.title.value_or("");
  report_.charset = job.properties.charset.value_or("");
  const auto start = std::chrono::steady_clock::now();
  ok_ = CollectLinkReport(job.context, job.database, &report_);
  collect_seconds_ =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A report that could not be read leaves the book alone; only a cancel
  // stops the compile.
  return job.context.IsRunning();
}

bool LinkReportBackEnd::WrapContainer(BookWriteJob& job, const std::string& output_path) {
  return writer_.WrapContainer(job, output_path);
}

}  // namespace fvx::compiler
