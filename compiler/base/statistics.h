// The figures of a finished compile, filled by the book writer, and the
// statistics report printed from them at the end of a compile.
#pragma once

#include <cstdint>

namespace fvx::compiler {

class CompileContext;

struct CompileStatistics {
  uint32_t subjects = 0;
  uint32_t categories = 0;
  uint64_t category_bytes = 0;  // all 'C' sections together
  uint32_t pictures = 0;
  uint64_t picture_bytes_processed = 0;
  uint64_t picture_bytes_stored = 0;
  uint64_t text_bytes_processed = 0;  // length of the text spill file
  uint64_t text_bytes_stored = 0;     // 'U' and 'E' sections together
  uint32_t filters = 0;               // author-defined selections
  uint32_t segmentation = 0;
  uint32_t search_overhead_percent = 0;    // integer, printed with two decimals
  uint32_t search_efficiency_percent = 0;  // integer
  uint32_t links_processed = 0;
  uint64_t book_size = 0;         // total size of the book stream
  uint64_t output_file_size = 0;  // size of the written book file (the driver fills it)
};

// Prints the report, all at information level; lines whose figure is zero
// are left out as the report's rules say. elapsed_seconds is whole seconds.
void ReportStatistics(CompileContext& context, const CompileStatistics& statistics,
                      uint64_t elapsed_seconds);

}  // namespace fvx::compiler
