// Links and anchors: the source names a link's target by heading and anchor
// name; the book stores the target's stored index and the anchor's byte
// position in the target's stored text.
//
// Call order per writer run: PrepareLinkMaps() once per compile (the
// huge-mode rerun reuses the maps), then a CLinkResolver for the texts, and
// the anchor store and has-anchors bits for section 'S'.
//
// Anchors belong to subjects through their owner's heading: an anchor of a
// subject whose heading another subject shares belongs to both in the
// anchor table (and counts twice in the header's anchor count).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "compiler/backend/subject_text_encoder.h"

namespace fvx::compiler {

class CompileContext;
class WorkDatabase;
class SubjectOrder;

// Indexes on link targets, headings and anchor names, and the link and
// anchor maps (every subject and every anchor that a link's names match).
[[nodiscard]] bool PrepareLinkMaps(WorkDatabase& database);

// Anchors in the anchor table (an anchor counts once per subject that has
// its owner's heading).
[[nodiscard]] bool CountAnchors(WorkDatabase& database, uint32_t* anchor_count);

// has_anchors[ROWID - 1] for every subject that owns, through its heading,
// at least one anchor.
[[nodiscard]] bool CollectHasAnchors(CompileContext& context, WorkDatabase& database,
                                     uint32_t subject_count, std::vector<bool>* has_anchors);

// The anchor store of section 'S':
//   (u32:name-offset u32:position){anchors} u32:names-length
//   u32:first-anchor{subjects + 1} names
[[nodiscard]] bool WriteAnchorStore(CompileContext& context, WorkDatabase& database,
                                    const SubjectOrder& order, uint32_t anchor_count,
                                    format::CBlockStore& store);

// Resolves the link elements of the subject texts, reporting invalid and
// ambiguous references as warnings. The huge-mode rerun resolves the same
// links again with report_problems false: its findings were all reported by
// the first run, and a second report would count every warning twice.
class CLinkResolver {
 public:
  CLinkResolver(CompileContext& context, WorkDatabase& database, const SubjectOrder& order,
                bool report_problems = true);
  ~CLinkResolver();
  CLinkResolver(const CLinkResolver&) = delete;
  CLinkResolver& operator=(const CLinkResolver&) = delete;

  // False when a query fails. An unknown target heading leaves
  // link->resolved false after the "Invalid link" warning.
  [[nodiscard]] bool ResolveLink(uint32_t link_record, ResolvedLink* link);
  uint32_t links_processed() const { return links_processed_; }

 private:
  struct Statements;
  [[nodiscard]] bool ReadLink(uint32_t link_record, std::string* href, std::string* anchor,
                              int64_t* line, int64_t* column);

  CompileContext& context_;
  const SubjectOrder& order_;
  bool report_problems_;
  std::unique_ptr<Statements> statements_;
  bool prepared_ = false;
  uint32_t links_processed_ = 0;
};

}  // namespace fvx::compiler
