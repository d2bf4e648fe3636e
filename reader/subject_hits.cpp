#include "reader/subject_hits.h"

#include "reader/book_document.h"

namespace fvx::reader {

bool FindHitsOfSubject(BookDocument& document, SearchQuery query, uint32_t subject) {
  query.find_all = false;
  query.from_beginning = false;
  uint64_t candidates = 0;
  if (!document.BeginSearch(query, subject, &candidates) || candidates == 0) return false;
  uint32_t current = subject;
  SearchStepResult step = SearchStepResult::kContinue;
  while ((step = document.SearchStep(SearchDirection::kForwards, 1, &current)) ==
         SearchStepResult::kContinue) {
    if (current > subject) break;  // passed it: not a match
  }
  const bool found = step == SearchStepResult::kFound && current == subject;
  document.CancelSearch();
  return found;
}

}  // namespace fvx::reader
