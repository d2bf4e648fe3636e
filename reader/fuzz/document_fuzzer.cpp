// Any bytes as a book: open, render every page (up to a bound), list the
// categories and filter by their values, search, and look headings up. A
// damaged or hostile book may be refused or show what it can; nothing may
// crash, read out of bounds or allocate beyond what the file can hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "reader/book_document.h"
#include "reader/picture_files.h"

namespace {

// Bounds the work per input, not what is checked: enough rows to reach
// covers, results and every kind of element in small books.
constexpr uint32_t kMaxRows = 48;
constexpr uint32_t kMaxValues = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fvx::reader;
  BookDocument document;
  OpenCode code;
  if (!document.OpenBytes(std::string(reinterpret_cast<const char*>(data), size), "fuzz.fvx",
                          &code)) {
    return 0;
  }
  document.LeaveTree();
  PictureMap pictures(nullptr);
  for (uint32_t row = 0; row < document.PageCount() && row < kMaxRows; ++row) {
    std::string page;
    (void)document.RenderPage(row, 5, 1, 2, false, &pictures, &page);
  }
  for (uint32_t s = 0; s < document.SubjectCount() && s < kMaxRows; ++s) {
    std::string body;
    uint32_t position = 0;
    (void)document.RenderBody(s, 0, false, 40, &pictures, &body, &position);
    (void)document.PictureKind(s);
    (void)document.PictureLength(s, true);
  }
  for (uint32_t row = 0; row < document.CategoryListRowCount() && row < kMaxValues; ++row) {
    (void)document.CategoryListRowName(row);
    for (uint32_t v = 0; v < document.ListRowValueCount(row) && v < kMaxValues; ++v) {
      (void)document.ListRowValueName(row, v);
      (void)document.ApplyListRow(row, v, FilterMode::kOr);
    }
  }
  for (uint32_t c = 0; c < document.CategoryCount() && c < kMaxValues; ++c) {
    for (uint32_t v = 0; v < document.ValueCount(c) && v < 4; ++v) {
      (void)document.ApplyFilter(c, v, FilterOperator::kNotEqual, FilterMode::kReplace);
    }
  }
  (void)document.RunFilterExpression("a = b<OR>c >= 1");
  document.ClearResults();
  (void)document.HeadingLookup("m");
  (void)document.FindSubjectByHeading("Subject 001");

  SearchQuery query;
  query.words = {"the", "ab", "ice"};
  query.operator3 = SearchOperator::kOr;
  uint64_t candidates = 0;
  if (document.BeginSearch(query, 0, &candidates)) {
    uint32_t current = 0;
    for (int step = 0; step < 20; ++step) {
      if (document.SearchStep(SearchDirection::kForwards, 5, &current) ==
          SearchStepResult::kFinished) {
        break;
      }
    }
    std::string page;
    if (const std::optional<uint32_t> row = document.RowOfSubject(current)) {
      (void)document.RenderPage(*row, 0, 0, 0, true, &pictures, &page);
    }
  }
  return 0;
}
