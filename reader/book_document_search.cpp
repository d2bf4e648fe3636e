// The document's search, filters, tree navigation and bookmarks.
#include <algorithm>

#include "reader/book_document.h"
#include "reader/filter.h"
#include "reader/search_index.h"
#include "reader/word_index.h"

namespace fvx::reader {
namespace {

// Candidates fetched from the word index at a time in find-next mode,
// growing fourfold per fetch.
constexpr uint32_t kFirstFetch = 64;
constexpr uint32_t kLargestFetch = 65536;

constexpr std::string_view kRootNode = "root";
// Deeper trees than this are taken to loop.
constexpr size_t kMaxTreeDepth = 256;

}  // namespace

// ---------------------------------------------------------------- results and filters

void BookDocument::SetResults(std::vector<uint32_t> subjects) {
  results_ = std::move(subjects);
  has_results_ = true;
  tree_browsed_ = false;
}

void BookDocument::ClearResults() {
  results_.clear();
  has_results_ = false;
  filter_.clear();
  tree_browsed_ = false;
}

std::vector<FilterCondition> BookDocument::ActiveFilter() const {
  std::vector<FilterCondition> conditions;
  if (!has_results_) return conditions;
  for (const Condition& c : filter_) conditions.push_back({c.category, c.value, c.op, c.mode});
  return conditions;
}

bool BookDocument::SubjectsSatisfying(const Condition& condition, std::vector<uint32_t>* subjects) {
  const uint32_t values = ValueCount(condition.category);
  if (condition.value >= values) return false;
  const ValueRange range = ValuesSatisfying(condition.op, condition.value, values);
  if (!SubjectsOfValues(condition.category, range.first, range.end, subjects)) return false;
  if (range.complement) *subjects = Complement(*subjects, subject_count_);
  return true;
}

bool BookDocument::ApplyFilter(uint32_t category, uint32_t value, FilterOperator op,
                               FilterMode mode) {
  if (!open_ || category >= layout_.categories.size()) return false;
  const Condition condition{category, value, op, mode};
  // A condition already applied changes nothing and is ignored; but one in
  // replace mode asks for itself alone, so it is ignored only when it is
  // already the whole filter.
  if (mode == FilterMode::kReplace ? filter_.size() == 1 && filter_.front() == condition
                                   : std::find(filter_.begin(), filter_.end(), condition) !=
                                         filter_.end()) {
    return true;
  }
  std::vector<uint32_t> subjects;
  if (!SubjectsSatisfying(condition, &subjects)) return false;
  if (mode == FilterMode::kReplace) filter_.clear();
  std::vector<uint32_t> results;
  if (filter_.empty()) {
    results = std::move(subjects);
  } else if (mode == FilterMode::kOr) {
    results = Union(results_, subjects);
  } else {
    results = Intersection(results_, subjects);
  }
  filter_.push_back(condition);
  SetResults(std::move(results));
  return true;
}

bool BookDocument::RunFilterExpression(std::string_view expression) {
  if (!open_) return false;
  ClearResults();
  const std::optional<std::vector<FilterItem>> items = ParseFilterExpression(expression);
  if (!items) return false;
  for (size_t i = 0; i < items->size(); ++i) {
    const FilterItem& item = (*items)[i];
    const std::optional<uint32_t> category = FindCategory(item.category);
    const std::optional<uint32_t> value =
        category ? FindValue(*category, item.value) : std::nullopt;
    if (!value ||
        !ApplyFilter(*category, *value, item.op, i == 0 ? FilterMode::kReplace : item.mode)) {
      ClearResults();
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------- tree mode

std::vector<uint32_t> BookDocument::AncestorPath(uint32_t subject) {
  std::vector<uint32_t> path = {subject};
  uint32_t at = subject;
  while (path.size() < kMaxTreeDepth) {
    ValueList parents;
    if (!ValuesOfSubject(*tree_category_, at, &parents) || parents.empty()) break;
    bool ok;
    const std::string parent = ReadValueName(*tree_category_, parents.front(), &ok);
    if (!ok || EqualNoCase(parent, kRootNode)) break;
    const std::optional<uint32_t> up = FindSubjectByHeading(parent);
    if (!up || std::find(path.begin(), path.end(), *up) != path.end()) break;
    path.push_back(*up);
    at = *up;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

bool BookDocument::ApplyTreeNode(std::string_view name, std::optional<uint32_t> subject) {
  if (!open_ || !tree_category_) return false;
  const std::optional<uint32_t> value = FindValue(*tree_category_, name);
  if (!value) return false;
  if (!ApplyFilter(*tree_category_, *value, FilterOperator::kEqual, FilterMode::kReplace)) {
    return false;
  }
  tree_browsed_ = true;
  tree_at_root_ = EqualNoCase(name, kRootNode);
  tree_path_.clear();
  if (!tree_at_root_) {
    if (!subject) subject = FindSubjectByHeading(name);
    if (subject) tree_path_ = AncestorPath(*subject);
  }
  return true;
}

bool BookDocument::GoToTreeNode(std::string_view name) { return ApplyTreeNode(name, std::nullopt); }

bool BookDocument::GoToRoot() { return ApplyTreeNode(kRootNode, std::nullopt); }

bool BookDocument::GoToChildrenOfSubject(uint32_t subject) {
  if (!open_ || subject >= subject_count_) return false;
  bool ok;
  const std::string heading = ReadHeading(subject, nullptr, &ok);
  if (!ok) return false;
  return ApplyTreeNode(heading, subject);
}

void BookDocument::LeaveTree() {
  ClearResults();
  tree_path_.clear();
  tree_at_root_ = false;
}

// ---------------------------------------------------------------- search

void BookDocument::SetWordIndexUse(bool use) {
  word_index_use_ = use;
  if (!use) ReloadWordIndex();
}

void BookDocument::ReloadWordIndex() {
  word_index_.reset();
  word_index_tried_ = false;
  word_index_reason_.clear();
}

bool BookDocument::WordIndexCandidates(const SearchQuery& query, uint32_t start,
                                       std::vector<CandidateSet::Range>* ranges) {
  std::string& note = explanation_.word_index_note;
  if (!word_index_use_) {
    note = "the word index is not used for this document";
    return false;
  }
  // A first hit that the index could only narrow (case, substrings) or that
  // is a walk over headings already in memory is found as fast without it;
  // asking the index first would only add its fixed cost.
  if (!query.find_all && (query.headings_only || query.match_case || !query.whole_words)) {
    note = "a find-next of this kind goes through the book's own index";
    return false;
  }
  if (!word_index_ && !word_index_tried_) {
    word_index_tried_ = true;
    const WordIndexIdentity book{BookId(), subject_count_, layout_.positions.text_total};
    word_index_ = WordIndex::Open(WordIndexPath(book.book_id), book, &word_index_reason_);
  }
  if (!word_index_) {
    note = word_index_reason_;
    return false;
  }
  std::vector<uint32_t> subjects;
  std::string reason;
  // Find-next fetches candidates a few at a time as the walk goes on, so
  // the first hit of a common word costs no more than that of a rare one.
  const bool lazy = !query.find_all;
  fetch_size_ = kFirstFetch;
  const WordIndex::Answer answer =
      word_index_->Find(query, &subjects, &reason, start, lazy ? fetch_size_ : 0);
  if (answer == WordIndex::Answer::kFailed) {
    // Not trusted again while the book is open.
    word_index_.reset();
    word_index_reason_ = reason;
    note = reason;
    return false;
  }
  if (answer == WordIndex::Answer::kUnnarrowed) {
    note = reason;
    return false;
  }
  exact_ = answer == WordIndex::Answer::kExact;
  covered_end_ = lazy && subjects.size() == fetch_size_ ? subjects.back() + 1 : subject_count_;
  fetch_size_ *= 4;
  ranges->clear();
  for (uint32_t subject : subjects) {
    if (subject < start) continue;
    if (!ranges->empty() && ranges->back().end == subject) {
      ++ranges->back().end;
    } else {
      ranges->push_back({subject, subject + 1});
    }
  }
  explanation_.word_index_used = true;
  explanation_.exact = exact_;
  return true;
}

void BookDocument::FetchCandidates() {
  std::vector<uint32_t> subjects;
  std::string reason;
  const WordIndex::Answer answer =
      word_index_ ? word_index_->Find(query_, &subjects, &reason, covered_end_, fetch_size_)
                  : WordIndex::Answer::kFailed;
  std::vector<CandidateSet::Range> ranges = candidates_.ranges();
  if (answer == WordIndex::Answer::kExact || answer == WordIndex::Answer::kCandidates) {
    for (uint32_t subject : subjects) ranges.push_back({subject, subject + 1});
    covered_end_ = subjects.size() == fetch_size_ ? subjects.back() + 1 : subject_count_;
    fetch_size_ = std::min<uint32_t>(fetch_size_ * 4, kLargestFetch);
  } else {
    // The index went away mid-walk: the matcher tests the rest.
    if (answer == WordIndex::Answer::kFailed) {
      word_index_.reset();
      word_index_reason_ = reason;
    }
    ranges.push_back({covered_end_, subject_count_});
    covered_end_ = subject_count_;
    exact_ = false;
    explanation_.exact = false;
  }
  candidates_.Assign(std::move(ranges));
  candidate_count_ = candidates_.Count();
  explanation_.candidates = candidate_count_;
}

std::optional<uint32_t> BookDocument::NextCandidate(uint64_t subject) {
  for (;;) {
    const std::optional<uint32_t> next = candidates_.FirstAtOrAfter(subject);
    if (next || covered_end_ >= subject_count_) return next;
    FetchCandidates();
  }
}

std::optional<uint32_t> BookDocument::PreviousCandidate(int64_t subject) {
  while (subject >= int64_t{covered_end_} && covered_end_ < subject_count_) FetchCandidates();
  return candidates_.LastAtOrBefore(subject);
}

bool BookDocument::BeginSearch(const SearchQuery& query, uint32_t start_subject,
                               uint64_t* candidate_count) {
  if (candidate_count != nullptr) *candidate_count = 0;
  if (!open_ || query.words[0].empty()) return false;
  query_ = query;
  found_.clear();
  std::vector<CandidateSet::Range> ranges;
  const uint32_t start = std::min(start_subject, subject_count_);
  exact_ = false;
  explanation_ = {};
  covered_end_ = subject_count_;
  bool indexed = WordIndexCandidates(query, start, &ranges);
  if (!indexed && !query.headings_only && index_ && index_->usable()) {
    std::vector<uint8_t> result;
    bool readable = true;
    for (int w = 0; w < 3 && readable; ++w) {
      if (query.words[w].empty()) continue;
      std::vector<uint8_t> bitmap;
      readable = index_->WordSegments(query.words[w], query.whole_words, &bitmap);
      if (w == 0 || result.empty()) {
        result = std::move(bitmap);
        continue;
      }
      const SearchOperator op = w == 1 ? query.operator2 : query.operator3;
      for (size_t i = 0; i < result.size(); ++i) {
        result[i] = op == SearchOperator::kAnd ? (result[i] & bitmap[i]) : (result[i] | bitmap[i]);
      }
    }
    if (!readable) NoteDamage("the search index (section F)");
    if (readable) {
      indexed = true;
      for (uint32_t segment = 0; segment < index_->segment_count(); ++segment) {
        if (!(result[segment / 8] & (1u << (segment % 8)))) continue;
        uint32_t first, end;
        if (!index_->SegmentRange(segment, &first, &end)) {
          NoteDamage("the search index (section F)");
          indexed = false;
          break;
        }
        first = std::max(first, start);
        if (first < end) ranges.push_back({first, end});
      }
    }
  }
  if (!indexed) {
    // Without a usable index every subject from the start on is a candidate.
    ranges.clear();
    ranges.push_back({start, subject_count_});
  }
  candidates_.Assign(std::move(ranges));
  candidate_count_ = candidates_.Count();
  explanation_.candidates = candidate_count_;
  tested_ = 0;
  search_position_ = start;
  include_position_ = true;
  no_more_forwards_ = !NextCandidate(start);
  no_more_backwards_ = !PreviousCandidate(start);
  search_set_up_ = true;
  if (candidate_count != nullptr) *candidate_count = candidate_count_;
  return true;
}

void BookDocument::SetSearchPosition(uint32_t subject) {
  search_position_ = subject;
  include_position_ = false;
  no_more_forwards_ = !NextCandidate(uint64_t{subject} + 1);
  no_more_backwards_ = !PreviousCandidate(int64_t{subject} - 1);
}

bool BookDocument::CanSearchForwards() const { return search_set_up_ && !no_more_forwards_; }
bool BookDocument::CanSearchBackwards() const { return search_set_up_ && !no_more_backwards_; }

bool BookDocument::MatchSubject(uint32_t subject, TextMatcher* matcher) {
  matcher->Reset();
  ++explanation_.inflated;
  if (query_.headings_only) {
    bool ok;
    const std::string heading = ReadHeading(subject, nullptr, &ok);
    if (!ok) return false;
    matcher->FeedPlain(heading);
    matcher->Finish();
    return matcher->Verdict();
  }
  const bool read = ForEachTextPiece(subject, [&](const uint8_t* bytes, size_t size) {
    matcher->Feed(bytes, size);
    return !matcher->Settled();
  });
  if (!read) return false;  // an unreadable subject does not match
  matcher->Finish();
  return matcher->Verdict();
}

SearchStepResult BookDocument::SearchStep(SearchDirection direction, int steps,
                                          uint32_t* current_subject) {
  if (!search_set_up_) return SearchStepResult::kFinished;
  const bool forwards = direction == SearchDirection::kForwards;
  if (exact_ && query_.find_all && forwards) {
    // Every candidate matches and find-all collects no hits: take them all.
    const uint64_t from = uint64_t{search_position_} + (include_position_ ? 0 : 1);
    for (const CandidateSet::Range& range : candidates_.ranges()) {
      if (range.end <= from) continue;
      for (uint64_t s = std::max<uint64_t>(range.first, from); s < range.end; ++s) {
        found_.push_back(static_cast<uint32_t>(s));
        ++tested_;
      }
      search_position_ = range.end - 1;
      include_position_ = false;
    }
    no_more_forwards_ = true;
    return SearchStepResult::kFinished;
  }
  TextMatcher matcher(query_, false);
  for (int step = 0; step < steps; ++step) {
    std::optional<uint32_t> next;
    if (forwards) {
      next = NextCandidate(uint64_t{search_position_} + (include_position_ ? 0 : 1));
    } else {
      next = PreviousCandidate(int64_t{search_position_} - (include_position_ ? 0 : 1));
    }
    if (!next) {
      (forwards ? no_more_forwards_ : no_more_backwards_) = true;
      return SearchStepResult::kFinished;
    }
    search_position_ = *next;
    include_position_ = false;
    ++tested_;
    const uint32_t subject = *next;
    if (!query_.find_all && has_results_ &&
        !std::binary_search(results_.begin(), results_.end(), subject)) {
      continue;
    }
    if (!exact_ && !MatchSubject(subject, &matcher)) continue;
    if (query_.find_all) {
      found_.push_back(subject);
      continue;
    }
    TextMatcher collect(query_, true);
    MatchSubject(subject, &collect);
    hits_ = collect.hits();
    hits_subject_ = subject;
    if (current_subject != nullptr) *current_subject = subject;
    no_more_forwards_ = !NextCandidate(uint64_t{subject} + 1);
    no_more_backwards_ = !PreviousCandidate(int64_t{subject} - 1);
    return SearchStepResult::kFound;
  }
  const bool more = forwards ? NextCandidate(uint64_t{search_position_} + 1).has_value()
                             : PreviousCandidate(int64_t{search_position_} - 1).has_value();
  if (!more) {
    (forwards ? no_more_forwards_ : no_more_backwards_) = true;
    return SearchStepResult::kFinished;
  }
  return SearchStepResult::kContinue;
}

void BookDocument::EndSearch() {
  if (search_set_up_ && query_.find_all && !found_.empty()) {
    SortUnique(&found_);
    filter_.clear();
    SetResults(std::move(found_));
  }
  found_.clear();
}

void BookDocument::CancelSearch() { found_.clear(); }

int BookDocument::SearchProgress() const {
  if (!search_set_up_ || candidate_count_ == 0) return 100;
  return static_cast<int>(std::min<uint64_t>(tested_ * 100 / candidate_count_, 100));
}

void BookDocument::ClearHits() {
  hits_.clear();
  hits_subject_.reset();
}

// ---------------------------------------------------------------- bookmarks

void BookDocument::RebuildBookmarks() {
  bookmarks_.clear();
  saved_filters_.clear();
  for (const Slot& slot : slots_.slots()) {
    if (slot.kind == kSlotBookmark) bookmarks_.push_back(slot.number);
    if (slot.kind == kSlotSavedFilter) saved_filters_.push_back(DecodeSavedFilter(slot.payload));
  }
}

bool BookDocument::Bookmark(uint32_t k, uint32_t* subject, uint32_t* position) const {
  if (k >= bookmarks_.size()) return false;
  const Slot* slot = slots_.Find(bookmarks_[k]);
  if (slot == nullptr) return false;
  const BookmarkEntry entry = DecodeBookmark(slot->payload);
  *subject = entry.subject;
  *position = entry.position;
  return true;
}

std::string_view BookDocument::BookmarkName(uint32_t k) {
  if (k >= bookmarks_.size()) return Result({});
  const Slot* slot = slots_.Find(bookmarks_[k]);
  return Result(slot ? DecodeBookmark(slot->payload).name : std::string());
}

std::optional<uint32_t> BookDocument::AddBookmark(uint32_t subject, uint32_t position,
                                                  std::string_view name) {
  if (!open_ || name.empty()) return std::nullopt;
  const std::optional<uint32_t> slot =
      slots_.Add(kSlotBookmark, EncodeBookmark({subject, position, std::string(name)}));
  RebuildBookmarks();
  return slot;
}

bool BookDocument::RenameBookmark(uint32_t k, std::string_view name) {
  if (k >= bookmarks_.size() || name.empty()) return false;
  const Slot* slot = slots_.Find(bookmarks_[k]);
  if (slot == nullptr) return false;
  const Slot seen = *slot;
  BookmarkEntry entry = DecodeBookmark(seen.payload);
  entry.name = std::string(name);
  const bool ok = slots_.Rewrite(seen, kSlotBookmark, EncodeBookmark(entry));
  RebuildBookmarks();
  return ok;
}

bool BookDocument::DeleteBookmark(uint32_t k) {
  if (k >= bookmarks_.size()) return false;
  const Slot* slot = slots_.Find(bookmarks_[k]);
  if (slot == nullptr) return false;
  const Slot seen = *slot;
  const bool ok = slots_.Free(seen);
  RebuildBookmarks();
  return ok;
}

}  // namespace fvx::reader
