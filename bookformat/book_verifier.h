// Checks a book file the way a reader would meet it, through bookformat/:
// the container and section walk, the integrity digest over what the
// compiler sealed (from the integrity area to the end of 'I'; sections that
// tools append later are outside it), every block of every store inflated,
// and every table's internal consistency (offsets rising and inside their
// data, indexes below their counts, group and segment tables, element
// framing of the texts and the references inside them, headings in heading
// order as stored or through the lookup, every key of every text marked in
// its subject's index segment), and the slot table of a 'D' section when a
// later tool added one.
//
// A book that passes can be read by the reader without misreading anything
// the compiler wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bookformat/book_file.h"
#include "bookformat/book_layout.h"

namespace fvx::format {

struct StoreSummary {
  std::string section;  // "C 1", "S", ...
  std::string name;     // "heading table", ...
  uint64_t table_position = 0;
  uint64_t blocks = 0;
  uint64_t stored_bytes = 0;  // compressed bytes of its blocks
};

struct BookCheck {
  format::OpenStatus status = format::OpenStatus::kOk;
  bool digest_ok = false;
  std::string problem;  // the first thing found damaged, empty when none
  format::BookLayout layout;
  std::string book_id;
  std::vector<StoreSummary> stores;
  uint64_t blocks_inflated = 0;
  bool ok() const { return problem.empty(); }
};

// Opens, parses and checks the digest only (enough for "fvx info").
bool InspectBook(const std::string& path, BookCheck* check);

// Everything above and every block and table. False with check->problem
// naming the damage.
bool VerifyBook(const std::string& path, BookCheck* check);

}  // namespace fvx::format
