// The seam between the compile driver and the book writer.
//
// The driver (CBookCompiler::Compile) runs the front end and the preparing
// stage itself, then hands the rest to a BookBackEnd:
//
//   6. "Processing... "     WriteBook(job, retry = false, overflow)
//   7. overflow only:        the driver reports the 4 GB message, sets
//                            job.properties.huge_file, empties job.stream and
//                            calls WriteBook(job, retry = true, overflow) once more
//   8. "Writing fv file %1"  WrapContainer(job, output_path)
//   9. statistics:           printed by the driver from job.statistics, which
//                            WriteBook fills (the driver adds output_file_size)
//
// WriteBook reports its own messages through job.context, checks
// job.context.KeepGoing() in its loops and returns false on any failure; it
// sets overflow only when a position did not fit 4-byte offsets. Without a
// back end the driver stops after the preparing stage and says so.
#pragma once

#include <string>

#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/statistics.h"
#include "compiler/base/work_database.h"
#include "platform/file.h"

namespace fvx::compiler {

struct BookWriteJob {
  CompileContext& context;
  CDocumentProperties& properties;
  WorkDatabase& database;
  // The text spill file: every subject's recorded text back to back, at the
  // positions of tbl_Para (TextOffsetH/L, TextLength). Read with ReadAt.
  platform::File& text_spill;
  // The book stream under construction (a scratch file, empty at the start
  // of each WriteBook run).
  platform::File& stream;
  // The source path, for resolving relative picture paths.
  std::string source_path;
  // Characters stored as two bytes; the compiler always passes false.
  bool wide_text = false;
  CompileStatistics& statistics;
};

class BookBackEnd {
 public:
  virtual ~BookBackEnd() = default;
  // REQUIRES: a successful parse and preparing stage (categories stored,
  // selections evaluated, tbl_Para.SortOrder computed, transactions closed).
  [[nodiscard]] virtual bool WriteBook(BookWriteJob& job, bool retry, bool& overflow) = 0;
  // REQUIRES: WriteBook succeeded. Writes the container at output_path.
  [[nodiscard]] virtual bool WrapContainer(BookWriteJob& job, const std::string& output_path) = 0;
};

}  // namespace fvx::compiler
