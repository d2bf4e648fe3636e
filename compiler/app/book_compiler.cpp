#include "compiler/app/book_compiler.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "compiler/base/scratch_report.h"
#include "compiler/backend/sort_order.h"
#include "compiler/base/work_database.h"
#include "compiler/frontend/parser.h"
#include "platform/paths.h"
#include "platform/scratch_file.h"

namespace fvx::compiler {

std::string OutputPathFor(const std::string& source_path) {
  size_t separator = platform::LastPathSeparator(source_path);
  size_t name_start = separator == std::string::npos ? 0 : separator + 1;
  size_t dot = source_path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return source_path + ".fvx";
  return source_path.substr(0, dot) + ".fvx";
}

OutputProblem CheckOutputPath(const std::string& source_path, const std::string& output_path) {
  struct stat output {};
  if (::stat(output_path.c_str(), &output) != 0) return OutputProblem::kNone;  // a new file
  struct stat source {};
  // Through links, names and hard links alike: one file is one device and inode.
  if (::stat(source_path.c_str(), &source) == 0 && source.st_dev == output.st_dev &&
      source.st_ino == output.st_ino) {
    return OutputProblem::kIsSource;
  }
  if (!S_ISREG(output.st_mode)) return OutputProblem::kNotRegular;
  return OutputProblem::kNone;
}

bool CBookCompiler::Compile(CSourceReader& reader, const std::string& source_path,
                            const std::string& output_path, bool wide_text, CompileMode mode) {
  // 1. A fresh start.
  context_.Reset();
  statistics_ = CompileStatistics();
  const std::time_t start_time = std::time(nullptr);
  reader.Close();

  bool ok = false;
  bool stopped_without_writer = false;
  // Only a compile that got going can be cancelled: one whose scratch file
  // or database could not be made has failed.
  bool started = false;
  // Refused before any work: the book would replace the source, or could
  // not take the place of what is there.
  bool refused = false;
  if (mode == CompileMode::kBook) {
    switch (CheckOutputPath(source_path, output_path)) {
      case OutputProblem::kNone:
        break;
      case OutputProblem::kIsSource:
        context_.Report(false, Level::kFatal, MessageId::kOutputIsSource, "%s", {output_path});
        refused = true;
        break;
      case OutputProblem::kNotRegular:
        context_.Report(false, Level::kFatal, MessageId::kOutputNotRegular, "%s", {output_path});
        refused = true;
        break;
    }
  }
  // A pipe as the source can keep the reader waiting: the stop button (or
  // Ctrl-C) ends the wait too.
  reader.SetWaitCheck([this] { return context_.KeepGoing(); });
  if (!refused) {
    // 2. The text spill file and the work database; the compile is running
    // from here on.
    platform::File text_spill = platform::CreateScratchFile("fvx");
    WorkDatabase db;
    if (!text_spill.IsOpen()) ReportScratchCreationFailure(context_, text_spill);
    bool ready = text_spill.IsOpen() && db.Open();
    if (ready) {
      context_.SetRunning(true);
      started = true;
    }
    ready = ready && db.CreateTables() && db.Begin();
    CParser parser(context_, db, text_spill);

    // 3. The parse.
    bool parsed = false;
    if (ready) {
      context_.Report(false, Level::kInformation, MessageId::kParsingInputFile);
      bool underscores = context_.ReplaceLeadingUnderscores();
      if (!reader.Open(source_path)) {
        context_.Report(false, Level::kFatal, MessageId::kFailedToOpenInput, "%s",
                        {source_path});
        if (reader.LastError() != 0) {
          context_.Report(false, Level::kInformation, MessageId::kReason, "%s",
                          {platform::ErrorText(reader.LastError())});
        }
      } else {
        parsed = parser.Parse(reader, underscores);
        // What was read before a failed read is not the source: no book of it.
        const int read_error = reader.LastError();
        if (read_error != 0 && read_error != ECANCELED) {
          context_.Report(false, Level::kFatal, MessageId::kFailedToReadInput, "%s:%u:%s",
                          {source_path, reader.Position(), platform::ErrorText(read_error)});
          parsed = false;
        }
        if (!parsed && context_.IsRunning()) ReportScratchWriteFailure(context_, text_spill);
      }
    }

    // 4. The last subject's required categories.
    if (parsed) {
      if (const CCategoryDef* missing = parser.MissingRequiredInLast()) {
        context_.Report(true, Level::kFatal, MessageId::kRequiredCategoryMissing, "%s:%s",
                        {missing->name, parser.current_heading()});
        parsed = false;
      }
    }

    // 5. Preparing: the last subject, categories, selections, sort order.
    bool prepared = false;
    if (parsed) {
      context_.EndProgress();
      context_.Report(false, Level::kInformation, MessageId::kPreparingToProcess);
      uint64_t subjects = parser.subject_count();
      uint64_t categories = parser.categories().definitions().size();
      uint64_t selections = parser.selections().selections().size();
      context_.BeginProgress((categories + selections + 1) * subjects * 2);
      prepared = parser.FinishLastSubject() && db.End();
      prepared = prepared && db.Begin();
      prepared = prepared && parser.categories().StoreCategories(2 * subjects);
      for (const Selection& selection : parser.selections().selections()) {
        if (!prepared) break;
        prepared = context_.KeepGoing() && parser.selections().Evaluate(selection);
        context_.AdvanceProgress(2 * subjects);
      }
      prepared = db.End() && prepared;
      prepared = prepared && ComputeSortOrder(context_, db);
    }

    if (prepared && mode == CompileMode::kCheck) {
      context_.Report(false, Level::kInformation, MessageId::kCheckCompleted);
      ok = true;
    } else if (prepared && back_end_ == nullptr) {
      context_.Report(false, Level::kInformation, MessageId::kNoBookWriter);
      stopped_without_writer = true;
    } else if (prepared) {
      // 6. The book stream.
      context_.Report(false, Level::kInformation, MessageId::kProcessing);
      platform::File stream = platform::CreateScratchFile("fvx");
      BookWriteJob job{context_,    parser.properties(), db,        text_spill,
                       stream,      source_path,         wide_text, statistics_};
      bool overflow = false;
      if (!stream.IsOpen()) ReportScratchCreationFailure(context_, stream);
      bool written = stream.IsOpen() && back_end_->WriteBook(job, false, overflow);
      // 7. Too big for 4-byte offsets: once more in huge mode.
      if (!written && overflow && context_.IsRunning()) {
        context_.Report(false, Level::kError, MessageId::kOutputExceeds4Gb);
        parser.properties().huge_file = true;
        stream = platform::CreateScratchFile("fvx");
        if (!stream.IsOpen()) ReportScratchCreationFailure(context_, stream);
        overflow = false;
        written = stream.IsOpen() && back_end_->WriteBook(job, true, overflow);
      }
      // 8. The container at the output path.
      if (written && context_.IsRunning()) {
        context_.Report(false, Level::kInformation, MessageId::kWritingFvFile, "%s",
                        {output_path});
        written = back_end_->WrapContainer(job, output_path);
      }
      if (!written && context_.IsRunning() && !ReportScratchWriteFailure(context_, stream)) {
        ReportScratchWriteFailure(context_, text_spill);
      }
      // 9. The statistics.
      if (written && context_.IsRunning()) {
        struct stat status {};
        if (::stat(output_path.c_str(), &status) == 0) {
          statistics_.output_file_size = static_cast<uint64_t>(status.st_size);
        }
        std::time_t end_time = std::time(nullptr);
        uint64_t elapsed = end_time > start_time ? static_cast<uint64_t>(end_time - start_time) : 0;
        ReportStatistics(context_, statistics_, elapsed);
        ok = true;
      }
    }
    // 10. The database and both scratch files go with this scope.
    db.Close();
  }

  if (started && !context_.IsRunning()) {
    context_.Report(false, Level::kFatal, MessageId::kCanceledByUser);
    ok = false;
  } else {
    if (ok) {
      if (mode == CompileMode::kBook) {
        context_.Report(false, Level::kInformation, MessageId::kCompilationCompleted);
      }
    } else if (!stopped_without_writer) {
      context_.Report(false, Level::kFatal, MessageId::kErrorsOccurred);
    }
    context_.EndProgress();
  }
  context_.Report(false, Level::kInformation, MessageId::kTally, "%d:%d",
                  {context_.errors(), context_.warnings()});
  context_.SetRunning(false);
  reader.SetWaitCheck({});
  reader.Close();
  return ok;
}

}  // namespace fvx::compiler
