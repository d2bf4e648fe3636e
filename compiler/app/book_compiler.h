// The compile engine: the whole pipeline from a source to a book, reaching
// the user interface only through the three client links.
//
// Call order: construct with the links (any may be null), SetBackEnd() with
// the book writer (without one the compile stops after preparing), then
// Compile() as often as needed. Cancel() (or a false Pump()) stops a
// running compile at its next KeepGoing.
#pragma once

#include <string>

#include "compiler/base/book_back_end.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/interfaces.h"
#include "compiler/frontend/source_reader.h"

namespace fvx::compiler {

enum class CompileMode {
  kBook,   // the whole pipeline: a book at the output path
  kCheck,  // parse, check and prepare only; no book is written
};

class CBookCompiler {
 public:
  CBookCompiler(MessageSink* messages, ProgressSink* progress, OptionsProvider* options)
      : context_(messages, progress, options) {}
  CBookCompiler(const CBookCompiler&) = delete;
  CBookCompiler& operator=(const CBookCompiler&) = delete;

  void SetBackEnd(BookBackEnd* back_end) { back_end_ = back_end; }
  CompileContext& context() { return context_; }
  void Cancel() { context_.Cancel(); }

  // Runs the pipeline (stages in the order the driver gives them) and
  // reports every message, ending with the error and warning tally. True
  // when the book was written (kBook) or the source checked clean of fatal
  // problems (kCheck).
  // REQUIRES: reader not open; it is opened on source_path and closed again.
  bool Compile(CSourceReader& reader, const std::string& source_path,
               const std::string& output_path, bool wide_text,
               CompileMode mode = CompileMode::kBook);

  // The statistics of the last compile.
  const CompileStatistics& statistics() const { return statistics_; }

 private:
  CompileContext context_;
  BookBackEnd* back_end_ = nullptr;
  CompileStatistics statistics_;
};

// Outputs refused before a compile starts.
enum class OutputProblem {
  kNone,
  kIsSource,    // the same file as the source (by device and inode)
  kNotRegular,  // exists and is no regular file: a folder, device, FIFO
};
OutputProblem CheckOutputPath(const std::string& source_path, const std::string& output_path);

// The output path of a source: its extension (after the last "." of the
// file name) replaced by ".fvx", or ".fvx" added when it has none.
std::string OutputPathFor(const std::string& source_path);

}  // namespace fvx::compiler
