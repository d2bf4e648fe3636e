#pragma once

#include <cstdint>

#include "reader/document.h"

namespace fvx::reader {

class BookDocument;

// Runs a find-next search of the query from the subject and says whether it
// stopped there; the document then holds that subject's hits for a page with
// highlights. The search is over when this returns.
bool FindHitsOfSubject(BookDocument& document, SearchQuery query, uint32_t subject);

}  // namespace fvx::reader
