// The one object that reads an open book. It reads the header and the
// section directory once at open time, keeps the small per-book tables
// (categories, selections, covers, the slot table) in memory, and reaches
// everything else through two block caches:
//
//   table cache    5760 blocks of the table block size: offset tables,
//                  headings, category tables, the picture directory
//   content cache  240 blocks of the content block size: subject texts,
//                  picture data, the search index
//
// Blocks read for data that is needed once (texts, pictures) are marked to
// be reused first, so lists and filters keep their table blocks. No stored
// length drives a read or an allocation before it is checked against what
// the book can hold, and an index at or above its count fails unread.
//
// A document belongs to one thread. It is neither copied nor moved (the
// caches point at its file).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_file.h"
#include "bookformat/book_layout.h"
#include "reader/document.h"
#include "reader/page_template.h"
#include "reader/slot_table.h"
#include "reader/text_matcher.h"

namespace fvx::reader {

class SearchIndexReader;
class WordIndex;

// How the last BeginSearch found its candidates, and what the search read.
struct SearchExplanation {
  bool word_index_used = false;
  bool exact = false;           // the word index gave exactly the matching subjects
  std::string word_index_note;  // why it was not used
  uint64_t candidates = 0;
  uint64_t inflated = 0;  // subjects whose text (or heading) the matcher read
};

class BookDocument final : public Document {
 public:
  // With the built-in page template and the default page style.
  BookDocument();
  ~BookDocument() override;
  BookDocument(const BookDocument&) = delete;
  BookDocument& operator=(const BookDocument&) = delete;

  // Opens a book held in memory (tests, the fuzzer); path is only its name.
  // Such a book's slot table is read-only: edits fail.
  [[nodiscard]] bool OpenBytes(std::string bytes, const std::string& path, OpenCode* code);
  // Opens a book read through any byte source (benchmarks count its reads).
  [[nodiscard]] bool OpenSource(std::unique_ptr<format::ByteSource> source,
                                const std::string& path, OpenCode* code);

  // ---- Document
  bool IsOpen() const override { return open_; }
  [[nodiscard]] bool Open(const std::string& path, OpenCode* code) override;
  void Close() override;
  const std::string& FilePath() const override { return path_; }
  int FormatVersion() const override { return open_ ? layout_.header.version : 0; }
  std::string BookId() const override;
  std::optional<std::string> BookIdOfFile(const std::string& path) const override;

  const std::vector<std::string>& DamageFound() const override { return damage_; }
  void ClearDamage() override { damage_.clear(); }
  bool DigestMatches() override;

  uint32_t SubjectCount() const override { return subject_count_; }
  uint32_t PageCount() const override;
  uint32_t ListRowCount() const override;
  bool HasFrontCover() const override;
  bool HasBackCover() const override;
  std::string_view Heading(uint32_t subject, bool* has_anchors = nullptr) override;
  std::string_view RowTitle(uint32_t row) override;
  std::optional<uint32_t> SubjectOfRow(uint32_t row) const override;
  std::optional<uint32_t> RowOfSubject(uint32_t subject) const override;
  [[nodiscard]] bool LoadSubject(uint32_t subject) override;
  std::optional<uint32_t> CurrentSubject() const override { return current_; }
  std::string_view CurrentHeading() override;
  std::string_view CurrentText() const override { return text_; }
  int ReadingProgress() const override { return progress_; }

  // The page of a subject whether or not the subject list shows it (a tree
  // link shows a node above the children it lists).
  [[nodiscard]] bool RenderSubjectPage(uint32_t subject, uint32_t jump_position, uint32_t jmppos,
                                       uint32_t pglen, bool highlight, PictureMap* pictures,
                                       std::string* out);
  void SetTemplate(std::string_view text) override;
  void SetPageStyle(const PageStyle& style) override { style_ = style; }
  [[nodiscard]] bool RenderPage(uint32_t row, uint32_t jump_position, uint32_t jmppos,
                                uint32_t pglen, bool highlight, PictureMap* pictures,
                                std::string* out) override;
  [[nodiscard]] bool RenderBody(uint32_t subject, uint32_t jump_position, bool highlight,
                                std::optional<uint32_t> visible_limit, PictureMap* pictures,
                                std::string* out, uint32_t* limit_position) override;
  std::optional<uint32_t> PositionOfVisibleCount(uint32_t subject, uint32_t count) override;
  bool WritePictures(const PictureMap& pictures) override;

  uint32_t PictureCount() const override { return open_ ? layout_.header.picture_count : 0; }
  uint64_t PictureData(uint32_t picture, bool small_version, void* buffer,
                       uint64_t capacity) override;
  uint64_t PictureLength(uint32_t picture, bool small_version) override;
  int PictureKind(uint32_t picture) override;

  uint32_t VisibleCategoryCount() const override { return static_cast<uint32_t>(visible_.size()); }
  uint32_t InternalCategoryCount() const override { return static_cast<uint32_t>(internal_.size()); }
  uint32_t VisibleCategory(uint32_t k) const override;
  uint32_t InternalCategory(uint32_t k) const override;
  uint32_t CategoryCount() const override { return static_cast<uint32_t>(layout_.categories.size()); }
  std::string_view CategoryName(uint32_t category) override;
  uint32_t CategoryFlags(uint32_t category) const override;
  uint32_t ValueCount(uint32_t category) const override;
  std::string_view ValueName(uint32_t category, uint32_t value) override;
  std::optional<double> NumericValue(uint32_t category, uint32_t value) override;
  [[nodiscard]] bool ValuesOfSubject(uint32_t category, uint32_t subject,
                                     ValueList* values) override;
  std::optional<uint32_t> DropDownCategory(int list) const override {
    return list == 1 ? first_drop_down_ : (list == 2 ? second_drop_down_ : std::nullopt);
  }
  uint32_t CategoryListRowCount() const override;
  std::string_view CategoryListRowName(uint32_t row) override;
  uint32_t ListRowValueCount(uint32_t row) override;
  std::string_view ListRowValueName(uint32_t row, uint32_t value) override;
  [[nodiscard]] bool ApplyListRow(uint32_t row, uint32_t value, FilterMode mode) override;
  std::optional<uint32_t> TypeAheadListRow(std::string_view text) override;

  uint32_t SelectionCount() const override;
  std::string_view SelectionName(uint32_t k) override;
  uint32_t SelectionMemberCount(uint32_t k) const override;
  [[nodiscard]] bool SelectionMembers(uint32_t k, std::vector<uint32_t>* members) override;

  bool HasResults() const override { return has_results_; }
  const std::vector<uint32_t>& Results() const override { return results_; }
  void ClearResults() override;
  [[nodiscard]] bool ApplyFilter(uint32_t category, uint32_t value, FilterOperator op,
                                 FilterMode mode) override;
  [[nodiscard]] bool RunFilterExpression(std::string_view expression) override;

  [[nodiscard]] bool BeginSearch(const SearchQuery& query, uint32_t start_subject,
                                 uint64_t* candidate_count) override;
  SearchStepResult SearchStep(SearchDirection direction, int steps,
                              uint32_t* current_subject) override;
  void SetSearchPosition(uint32_t subject) override;
  bool CanSearchForwards() const override;
  bool CanSearchBackwards() const override;
  void EndSearch() override;
  void CancelSearch() override;
  int SearchProgress() const override;
  const std::vector<Hit>& Hits() const override { return hits_; }
  void ClearHits() override;
  std::optional<uint32_t> HeadingLookup(std::string_view text) override;

  bool HasSlotTable() const override { return slots_.present(); }
  uint32_t BookmarkCount() const override { return static_cast<uint32_t>(bookmarks_.size()); }
  [[nodiscard]] bool Bookmark(uint32_t k, uint32_t* subject, uint32_t* position) const override;
  std::string_view BookmarkName(uint32_t k) override;
  std::optional<uint32_t> AddBookmark(uint32_t subject, uint32_t position,
                                      std::string_view name) override;
  [[nodiscard]] bool RenameBookmark(uint32_t k, std::string_view name) override;
  [[nodiscard]] bool DeleteBookmark(uint32_t k) override;
  const std::string& BookmarkEditFailure() const override { return slots_.edit_failure(); }
  uint32_t SavedFilterCount() const override { return static_cast<uint32_t>(saved_filters_.size()); }

  bool IsTreeMode() const override { return tree_category_.has_value(); }
  bool IsTreeAtRoot() const override { return tree_at_root_; }
  bool IsTreeBrowsed() const override { return tree_browsed_; }
  [[nodiscard]] bool GoToTreeNode(std::string_view name) override;
  [[nodiscard]] bool GoToRoot() override;
  [[nodiscard]] bool GoToChildrenOfSubject(uint32_t subject) override;
  const std::vector<uint32_t>& TreePath() const override { return tree_path_; }
  void LeaveTree() override;

  // ---- the local word index (reader/word_index.h)
  // Whether searches may use the book's local word index. On for books
  // opened from a file, off for books opened from memory or a byte source.
  void SetWordIndexUse(bool use);
  // Forgets the index looked at, so the next search looks again (after a
  // build finished).
  void ReloadWordIndex();
  const SearchExplanation& LastSearch() const { return explanation_; }

  // The conditions that made the result list, in the order applied (empty
  // when the list came from a selection, a search or no filter at all).
  std::vector<FilterCondition> ActiveFilter() const;

  // ---- for tools, benchmarks and tests
  const format::BookLayout& layout() const { return layout_; }
  const format::BlockCache* table_cache() const { return table_cache_.get(); }
  const format::BlockCache* content_cache() const { return content_cache_.get(); }
  // Headings read so far (lookup statistics).
  uint64_t HeadingReads() const { return heading_reads_; }
  // Subjects whose text the last search step tested (search statistics).
  uint64_t SubjectsTested() const { return tested_; }
  // The reason of the last failed open.
  const std::string& OpenFailure() const { return open_failure_; }
  // The heading at a sort position (the order headings are looked up in).
  std::optional<uint32_t> SubjectAtSortPosition(uint32_t position);
  // The first sort position whose heading does not sort below the text
  // (A-Z folded); the subject count when every heading does.
  std::optional<uint32_t> LowerBoundSortPosition(std::string_view text);
  // The subject whose heading equals the text (any case), first in sort order.
  std::optional<uint32_t> FindSubjectByHeading(std::string_view heading);
  // Calls f(bytes, size) for each piece of the subject's stored text.
  template <class F>
  [[nodiscard]] bool ForEachTextPiece(uint32_t subject, F&& f);
  // Category k (file order) whose name equals the text (any case).
  std::optional<uint32_t> FindCategory(std::string_view name);
  std::optional<uint32_t> FindValue(uint32_t category, std::string_view name);

 private:
  class PageSourceAdapter;
  class PictureAdapter;

  struct Condition {
    uint32_t category;
    uint32_t value;
    FilterOperator op;
    FilterMode mode;
    bool operator==(const Condition&) const = default;
  };

  struct TextSpan {
    uint64_t data = 0;    // position in the text store
    uint64_t length = 0;
    uint64_t end = 0;     // the next subject's start, for the progress
  };

  // writable_path: the file bookmark edits are written to (empty: none).
  bool Finish(OpenCode* code, const std::string& writable_path);
  bool FailOpen(OpenCode* code, OpenCode value, std::string reason);
  bool CountsMatchTheirSections(std::string* reason);
  // Records damage met on a read (once per subject; the list is bounded).
  void NoteDamage(std::string what);
  void ResetState();
  std::string_view Result(std::string text);

  bool TextSpanOf(uint32_t subject, TextSpan* span);
  bool PictureSpan(uint32_t picture, bool small_version, uint64_t* from, uint64_t* to);
  template <class F>
  bool ForEachPicturePiece(uint32_t picture, bool small_version, F&& f);
  std::string ReadHeading(uint32_t subject, bool* has_anchors, bool* ok);
  std::string ReadValueName(uint32_t category, uint32_t value, bool* ok);
  bool ReadU32Run(uint64_t table, uint64_t offset, uint64_t count, std::vector<uint32_t>* out);
  bool SubjectsOfValues(uint32_t category, uint32_t first, uint32_t end,
                        std::vector<uint32_t>* subjects);
  bool SubjectsSatisfying(const Condition& condition, std::vector<uint32_t>* subjects);
  void SetResults(std::vector<uint32_t> subjects);
  bool MatchSubject(uint32_t subject, TextMatcher* matcher);
  // Candidates from the local word index; false when it cannot give them.
  bool WordIndexCandidates(const SearchQuery& query, uint32_t start,
                           std::vector<CandidateSet::Range>* ranges);
  // The walk's candidates; in find-next mode through the word index they
  // are known up to covered_end_ and fetched further on demand.
  std::optional<uint32_t> NextCandidate(uint64_t subject);
  std::optional<uint32_t> PreviousCandidate(int64_t subject);
  void FetchCandidates();
  void RebuildBookmarks();
  bool ApplyTreeNode(std::string_view name, std::optional<uint32_t> subject);
  std::vector<uint32_t> AncestorPath(uint32_t subject);
  std::optional<uint32_t> CoverPicture(bool front) const;

  // The open book.
  bool open_ = false;
  std::string path_;
  std::string open_failure_;
  format::BookFile file_;
  format::BookLayout layout_;
  format::OffsetWidth width_ = format::OffsetWidth::kNarrow;
  uint32_t heading_offset_bytes_ = 4;
  uint32_t subject_count_ = 0;
  std::unique_ptr<format::BlockCache> table_cache_;
  std::unique_ptr<format::BlockCache> content_cache_;
  std::unique_ptr<SearchIndexReader> index_;
  std::unique_ptr<WordIndex> word_index_;
  bool word_index_use_ = false;
  bool word_index_tried_ = false;
  std::string word_index_reason_;

  std::vector<uint32_t> visible_;
  std::vector<uint32_t> internal_;
  std::optional<uint32_t> first_drop_down_;
  std::optional<uint32_t> second_drop_down_;
  std::vector<uint64_t> selection_starts_;  // members before selection k

  // Reading state inside the book.
  SlotTable slots_;
  std::vector<uint32_t> bookmarks_;      // bookmark k -> slot number
  std::vector<std::string> saved_filters_;

  // The current subject.
  std::optional<uint32_t> current_;
  std::string text_;
  int progress_ = 0;

  // Results and filters.
  bool has_results_ = false;
  std::vector<uint32_t> results_;
  std::vector<Condition> filter_;

  // Tree mode.
  std::optional<uint32_t> tree_category_;
  bool tree_at_root_ = false;
  bool tree_browsed_ = false;
  std::vector<uint32_t> tree_path_;

  // Search.
  bool search_set_up_ = false;
  SearchQuery query_;
  CandidateSet candidates_;
  uint64_t candidate_count_ = 0;
  uint64_t tested_ = 0;
  uint32_t search_position_ = 0;
  bool include_position_ = true;
  bool no_more_forwards_ = true;
  bool no_more_backwards_ = true;
  bool exact_ = false;  // every candidate matches: the matcher only collects hits
  uint32_t covered_end_ = 0;
  uint32_t fetch_size_ = 0;
  SearchExplanation explanation_;
  std::vector<uint32_t> found_;  // find-all, until installed
  std::vector<Hit> hits_;
  std::optional<uint32_t> hits_subject_;

  // Pages.
  PageTemplate template_;
  PageStyle style_;

  std::vector<std::string> damage_;
  uint64_t heading_reads_ = 0;
  std::string result_;  // the string the last string-returning call gave
};

template <class F>
bool BookDocument::ForEachTextPiece(uint32_t subject, F&& f) {
  TextSpan span;
  if (!TextSpanOf(subject, &span)) return false;
  const uint32_t block_size = content_cache_->block_size();
  const uint64_t table = layout_.texts.text_table;
  uint64_t at = span.data;
  uint64_t left = span.length;
  while (left > 0) {
    const uint64_t block = at / block_size;
    const uint32_t within = static_cast<uint32_t>(at % block_size);
    const uint8_t* bytes = content_cache_->Fetch(table, block);
    if (bytes == nullptr) {
      NoteDamage("the text of subject " + std::to_string(subject));
      return false;
    }
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, block_size - within));
    const bool go_on = f(bytes + within, piece);
    content_cache_->SetState(table, block, format::BlockCache::ReuseState::kReuseFirst);
    if (!go_on) return true;
    at += piece;
    left -= piece;
  }
  return true;
}

template <class F>
bool BookDocument::ForEachPicturePiece(uint32_t picture, bool small_version, F&& f) {
  uint64_t at, to;
  if (!PictureSpan(picture, small_version, &at, &to)) return false;
  const uint32_t block_size = content_cache_->block_size();
  const uint64_t table = layout_.pictures.data_table;
  while (at < to) {
    const uint64_t block = at / block_size;
    const uint32_t within = static_cast<uint32_t>(at % block_size);
    const uint8_t* bytes = content_cache_->Fetch(table, block);
    if (bytes == nullptr) {
      NoteDamage("picture " + std::to_string(picture));
      return false;
    }
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(to - at, block_size - within));
    const bool go_on = f(bytes + within, piece);
    content_cache_->SetState(table, block, format::BlockCache::ReuseState::kReuseFirst);
    if (!go_on) return true;
    at += piece;
  }
  return true;
}

}  // namespace fvx::reader
