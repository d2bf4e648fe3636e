// The reader's view of one open book, as every window and the command line
// see it: one abstract interface, implemented by BookDocument.
//
// Call order: Open() first; every other operation REQUIRES IsOpen() unless
// it says otherwise (on a closed document they fail or return 0/empty).
// Strings are returned as views into one buffer that the document reuses:
// a returned view stays valid until the next call that returns a string.
// Rows are the rows of the subject list: with a front cover row 0 is that
// cover, and while a result list is active row r is its r-th subject.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fvx::reader {

class PictureMap;
class PictureFiles;

inline constexpr uint32_t kNoIndex = 0xFFFFFFFF;

// Why a book could not be opened: the values the main window sees.
enum class OpenCode : int {
  kOk = 0,
  kDamaged = 1,             // inconsistent data, or a read failed
  kNotABook = 2,            // the container check failed
  kUnsupportedVersion = 3,  // header version other than 1 or 2
};

// How pages look when the book does not say otherwise.
struct PageStyle {
  uint32_t text_colour = 0x000000;  // 0xRRGGBB
  uint32_t background_colour = 0xFFFFFF;
  int font_size = 12;  // points
  std::string font_face = "Microsoft Sans Serif";
  std::string background_picture;  // a file path, empty for none
};

enum class SearchOperator { kAnd, kOr };

struct SearchQuery {
  std::array<std::string, 3> words;  // word 1 is required; empty 2 and 3 are ignored
  SearchOperator operator2 = SearchOperator::kAnd;
  SearchOperator operator3 = SearchOperator::kAnd;
  bool headings_only = false;
  bool match_case = false;
  bool whole_words = true;
  bool find_all = false;
  bool from_beginning = false;
};

enum class SearchDirection { kForwards, kBackwards };

enum class SearchStepResult {
  kContinue,  // candidates remain
  kFound,     // find-next mode: the current subject moved to a match
  kFinished,  // no candidates remain in this direction
};

// A search hit in a subject's stored text: [start, end) and the word (0-2).
struct Hit {
  uint32_t start = 0;
  uint32_t end = 0;
  int word = 0;
  bool operator==(const Hit&) const = default;
};

enum class FilterOperator : int {
  kEqual = 0,
  kLess = 1,
  kLessOrEqual = 2,
  kGreater = 3,
  kGreaterOrEqual = 4,
  kNotEqual = 5,
};

// How a condition joins the active filter. kNot narrows exactly as kAnd:
// filter expressions name it, but the item itself is not negated.
enum class FilterMode { kReplace, kAnd, kOr, kNot };

// One condition of the active filter, as it was applied.
struct FilterCondition {
  uint32_t category = 0;  // file-order index
  uint32_t value = 0;
  FilterOperator op = FilterOperator::kEqual;
  FilterMode mode = FilterMode::kReplace;
  bool operator==(const FilterCondition&) const = default;
};

// The values of one subject in one category, in value order.
using ValueList = std::vector<uint32_t>;

class Document {
 public:
  virtual ~Document() = default;

  // ---- lifecycle and identity
  virtual bool IsOpen() const = 0;
  // On failure *code (when given) says why, and the document is closed.
  [[nodiscard]] virtual bool Open(const std::string& path, OpenCode* code) = 0;
  virtual void Close() = 0;
  virtual const std::string& FilePath() const = 0;
  virtual int FormatVersion() const = 0;
  // The 40-character key of the book's registry entries; empty when closed.
  virtual std::string BookId() const = 0;
  // The book id of a file that need not be open (works on a closed document).
  virtual std::optional<std::string> BookIdOfFile(const std::string& path) const = 0;

  // ---- damage
  // What the engine could not read since the book was opened or the report
  // was cleared, one entry per damaged subject, table or section ("the text
  // of subject 12"). A call that meets damage also fails or returns less;
  // the report is how a caller that goes on learns that what it shows is
  // partial. Sound books never add to it.
  virtual const std::vector<std::string>& DamageFound() const = 0;
  virtual void ClearDamage() = 0;
  // Whether the integrity digest matches the part of the book the compiler
  // sealed; reads all of it. Finds changes that still decode.
  virtual bool DigestMatches() = 0;

  // ---- subjects and rows
  virtual uint32_t SubjectCount() const = 0;
  // Subjects plus one row per cover.
  virtual uint32_t PageCount() const = 0;
  // Rows of the subject list: the page count, or the result count.
  virtual uint32_t ListRowCount() const = 0;
  virtual bool HasFrontCover() const = 0;
  virtual bool HasBackCover() const = 0;
  // Empty on failure; *has_anchors (when given) is the subject's anchor flag.
  virtual std::string_view Heading(uint32_t subject, bool* has_anchors = nullptr) = 0;
  // The heading of a subject row, the stored title of a cover row.
  virtual std::string_view RowTitle(uint32_t row) = 0;
  virtual std::optional<uint32_t> SubjectOfRow(uint32_t row) const = 0;
  virtual std::optional<uint32_t> RowOfSubject(uint32_t subject) const = 0;
  // Makes the subject current (its text, progress). REQUIRES: below the count.
  [[nodiscard]] virtual bool LoadSubject(uint32_t subject) = 0;
  virtual std::optional<uint32_t> CurrentSubject() const = 0;
  virtual std::string_view CurrentHeading() = 0;
  // The current subject's stored text (characters and 0xFF elements).
  virtual std::string_view CurrentText() const = 0;
  virtual int ReadingProgress() const = 0;

  // ---- pages (the picture map names the pictures a page shows; writing
  // them is the separate step WritePictures, after the HTML is complete)
  virtual void SetTemplate(std::string_view text) = 0;
  virtual void SetPageStyle(const PageStyle& style) = 0;
  [[nodiscard]] virtual bool RenderPage(uint32_t row, uint32_t jump_position, uint32_t jmppos,
                                        uint32_t pglen, bool highlight, PictureMap* pictures,
                                        std::string* out) = 0;
  // The body alone. With a limit of visible characters, *limit_position is
  // the byte position in the stored text where that count was reached.
  [[nodiscard]] virtual bool RenderBody(uint32_t subject, uint32_t jump_position, bool highlight,
                                        std::optional<uint32_t> visible_limit,
                                        PictureMap* pictures, std::string* out,
                                        uint32_t* limit_position) = 0;
  // The byte position of a subject's stored text at which the given number
  // of visible characters has been written (a bookmark at the top of the
  // visible page); a count of 0 is position 0. nullopt when unreadable.
  virtual std::optional<uint32_t> PositionOfVisibleCount(uint32_t subject, uint32_t count) = 0;
  // Writes every picture of the map to its file; false when any failed.
  virtual bool WritePictures(const PictureMap& pictures) = 0;

  // ---- pictures
  virtual uint32_t PictureCount() const = 0;
  // Copies the picture's bytes when buffer is given and capacity suffices;
  // returns the length (0 when the picture is absent or unreadable).
  virtual uint64_t PictureData(uint32_t picture, bool small_version, void* buffer,
                               uint64_t capacity) = 0;
  virtual uint64_t PictureLength(uint32_t picture, bool small_version) = 0;
  // 1 PNG, 2 JPEG, 0 other (or unreadable).
  virtual int PictureKind(uint32_t picture) = 0;

  // ---- categories and the category list
  virtual uint32_t VisibleCategoryCount() const = 0;
  virtual uint32_t InternalCategoryCount() const = 0;
  // Category indexes below are file-order indexes; these map the two lists.
  virtual uint32_t VisibleCategory(uint32_t k) const = 0;
  virtual uint32_t InternalCategory(uint32_t k) const = 0;
  virtual uint32_t CategoryCount() const = 0;
  virtual std::string_view CategoryName(uint32_t category) = 0;
  virtual uint32_t CategoryFlags(uint32_t category) const = 0;
  virtual uint32_t ValueCount(uint32_t category) const = 0;
  virtual std::string_view ValueName(uint32_t category, uint32_t value) = 0;
  virtual std::optional<double> NumericValue(uint32_t category, uint32_t value) = 0;
  [[nodiscard]] virtual bool ValuesOfSubject(uint32_t category, uint32_t subject,
                                             ValueList* values) = 0;
  // The category of the first (list 1) or second (list 2) drop-down list.
  virtual std::optional<uint32_t> DropDownCategory(int list) const = 0;
  virtual uint32_t CategoryListRowCount() const = 0;
  virtual std::string_view CategoryListRowName(uint32_t row) = 0;
  virtual uint32_t ListRowValueCount(uint32_t row) = 0;
  virtual std::string_view ListRowValueName(uint32_t row, uint32_t value) = 0;
  // Choosing a value of a row: an = condition, a selection, a saved filter.
  [[nodiscard]] virtual bool ApplyListRow(uint32_t row, uint32_t value, FilterMode mode) = 0;
  // The first category-list row whose name starts with text (any case).
  virtual std::optional<uint32_t> TypeAheadListRow(std::string_view text) = 0;

  // ---- selections
  virtual uint32_t SelectionCount() const = 0;
  virtual std::string_view SelectionName(uint32_t k) = 0;
  virtual uint32_t SelectionMemberCount(uint32_t k) const = 0;
  [[nodiscard]] virtual bool SelectionMembers(uint32_t k, std::vector<uint32_t>* members) = 0;

  // ---- result lists and filters
  virtual bool HasResults() const = 0;
  virtual const std::vector<uint32_t>& Results() const = 0;
  virtual void ClearResults() = 0;
  [[nodiscard]] virtual bool ApplyFilter(uint32_t category, uint32_t value, FilterOperator op,
                                         FilterMode mode) = 0;
  // Replaces the result list; on failure no filter is left.
  [[nodiscard]] virtual bool RunFilterExpression(std::string_view expression) = 0;

  // ---- search
  [[nodiscard]] virtual bool BeginSearch(const SearchQuery& query, uint32_t start_subject,
                                         uint64_t* candidate_count) = 0;
  virtual SearchStepResult SearchStep(SearchDirection direction, int steps,
                                      uint32_t* current_subject) = 0;
  // Where a continued search goes on from (the subject on show).
  virtual void SetSearchPosition(uint32_t subject) = 0;
  virtual bool CanSearchForwards() const = 0;
  virtual bool CanSearchBackwards() const = 0;
  // Installs a find-all search's results (when it found any).
  virtual void EndSearch() = 0;
  // Drops what a running search found; the result list stays as it was.
  virtual void CancelSearch() = 0;
  virtual int SearchProgress() const = 0;
  virtual const std::vector<Hit>& Hits() const = 0;
  virtual void ClearHits() = 0;
  // The row that typed text leads to in the subject list.
  virtual std::optional<uint32_t> HeadingLookup(std::string_view text) = 0;

  // ---- bookmarks (the slot table inside the book)
  virtual bool HasSlotTable() const = 0;
  virtual uint32_t BookmarkCount() const = 0;
  [[nodiscard]] virtual bool Bookmark(uint32_t k, uint32_t* subject, uint32_t* position) const = 0;
  virtual std::string_view BookmarkName(uint32_t k) = 0;
  // Returns the slot used, or nullopt when nothing was written.
  virtual std::optional<uint32_t> AddBookmark(uint32_t subject, uint32_t position,
                                              std::string_view name) = 0;
  [[nodiscard]] virtual bool RenameBookmark(uint32_t k, std::string_view name) = 0;
  [[nodiscard]] virtual bool DeleteBookmark(uint32_t k) = 0;
  // Why the last bookmark edit wrote nothing ("the bookmark table is full…").
  virtual const std::string& BookmarkEditFailure() const = 0;
  virtual uint32_t SavedFilterCount() const = 0;

  // ---- hierarchical books
  virtual bool IsTreeMode() const = 0;
  virtual bool IsTreeAtRoot() const = 0;
  // True while a tree node's children are listed.
  virtual bool IsTreeBrowsed() const = 0;
  [[nodiscard]] virtual bool GoToTreeNode(std::string_view name) = 0;
  [[nodiscard]] virtual bool GoToRoot() = 0;
  [[nodiscard]] virtual bool GoToChildrenOfSubject(uint32_t subject) = 0;
  // The subjects from the top of the tree down to the node on show.
  virtual const std::vector<uint32_t>& TreePath() const = 0;
  // Leaves the tree: the result list is dropped.
  virtual void LeaveTree() = 0;
};

}  // namespace fvx::reader
