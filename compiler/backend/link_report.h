// The link report: what the book's links point at, read from the work
// database once the writer has resolved them, as one self-contained HTML page.
//
// It lists the links that point nowhere, the ambiguous ones with every
// candidate subject, and for each subject the subjects that link to it, each
// with its source line. Nothing of it runs unless a report is asked for: the
// report is a BookBackEnd that wraps the real writer and reads the tables
// the writer built, after it has built them.
//
// Call order: LinkReportBackEnd wraps the writer for one or more compiles;
// after a compile whose WriteBook succeeded, report() holds that compile's
// findings (a failed or cancelled compile leaves ok() false).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "compiler/base/book_back_end.h"

namespace fvx::compiler {

struct LinkReport {
  // A subject, named as the source names it.
  struct Subject {
    std::string heading;
    int64_t line = 0;
    int64_t column = 0;
  };
  // One link of the source: where it stands (the subject it is in, and its
  // own line and column) and what it names.
  struct Link {
    int64_t from = -1;  // index into subjects, -1 when it stands before any
    int64_t line = 0;
    int64_t column = 0;
    std::string href;
    std::string anchor;
  };
  struct Ambiguous {
    Link link;
    std::vector<int64_t> candidates;  // indexes into subjects, source order
  };
  // A link whose subject has several anchors of the link's anchor name; the
  // first in the subject's text is taken.
  struct AmbiguousAnchor {
    Link link;
    int64_t target = 0;  // index into subjects
    std::vector<std::pair<int64_t, int64_t>> anchors;  // line and column of each
  };
  struct LinksHere {
    int64_t target = 0;  // index into subjects
    std::vector<Link> links;
  };

  std::string title;    // the book's title, when it has one
  std::string charset;  // of the source's characters (one byte each)
  std::vector<Subject> subjects;      // source order
  std::vector<Link> broken;           // source order
  std::vector<Ambiguous> ambiguous;   // source order
  std::vector<AmbiguousAnchor> ambiguous_anchors;  // source order
  std::vector<LinksHere> links_here;  // targets in source order, links in source order
};

class CompileContext;
class WorkDatabase;

// Reads the links as the writer resolved them (a link goes to the first
// subject, in source order, whose heading it names). REQUIRES: the writer's
// link maps exist (after WriteBook). False when a query fails or the compile
// was cancelled.
[[nodiscard]] bool CollectLinkReport(CompileContext& context, WorkDatabase& database,
                                     LinkReport* report);

// The whole page.
std::string LinkReportHtml(const LinkReport& report);

class LinkReportBackEnd final : public BookBackEnd {
 public:
  explicit LinkReportBackEnd(BookBackEnd& writer) : writer_(writer) {}

  [[nodiscard]] bool WriteBook(BookWriteJob& job, bool retry, bool& overflow) override;
  [[nodiscard]] bool WrapContainer(BookWriteJob& job, const std::string& output_path) override;

  bool ok() const { return ok_; }
  const LinkReport& report() const { return report_; }
  // Wall time of the last collection, for the compile benchmark.
  double collect_seconds() const { return collect_seconds_; }

 private:
  BookBackEnd& writer_;
  bool ok_ = false;
  double collect_seconds_ = 0;
  LinkReport report_;
};

// Writes the page to path (replacing an older file). False when it cannot.
[[nodiscard]] bool WriteLinkReport(const LinkReport& report, const std::string& path);

}  // namespace fvx::compiler
