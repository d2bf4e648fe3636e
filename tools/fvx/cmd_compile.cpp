// fvx compile: the book compiler on the command line.
//
// Options come from the registry (the compiler's ImportOptions key, as the
// compiler window keeps them) and flags override them. Every message goes to
// standard output exactly as its log-file line, so scripts can read it.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "compiler/app/book_compiler.h"
#include "compiler/app/import_options.h"
#include "compiler/backend/book_writer.h"
#include "compiler/backend/link_report.h"
#include "compiler/backend/picture_processor.h"
#include "compiler/base/message_log.h"
#include "compiler/frontend/converting_source_reader.h"
#include "compiler/frontend/source_reader_factory.h"
#include "imaging/image_library_loader.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

using compiler::Level;

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// Prints each message as its log line, or in the form editors read.
class StdoutSink : public compiler::MessageSink {
 public:
  StdoutSink(std::string source, bool gcc_form) : source_(std::move(source)), gcc_(gcc_form) {}
  void Report(Level level, const std::string& text) override {
    std::string line = gcc_ ? GccLine(level, text) : compiler::LogLine(level, text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  // "Line 12 : Col 3 : text" becomes "source:12:3: warning: text".
  std::string GccLine(Level level, const std::string& text) const {
    if (level == Level::kInformation) return text;
    const char* kind = level == Level::kWarning ? "warning" : level == Level::kError ? "error"
                                                                                     : "fatal error";
    unsigned line = 0, column = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "Line %u : Col %u : %n", &line, &column, &used) == 2 && used > 0) {
      return source_ + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + kind +
             ": " + text.substr(static_cast<size_t>(used));
    }
    return source_ + ": " + kind + ": " + text;
  }

  std::string source_;
  bool gcc_;
};

// Ctrl-C works like the compiler window's stop button.
class InterruptProgress : public compiler::ProgressSink {
 public:
  void Progress(compiler::ProgressCode, uint32_t) override {}
  bool Pump() override { return g_interrupted == 0; }
};

bool AskToSort(uint32_t subject_count) {
  if (!::isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr,
               "File not sorted. This file (%u subjects) is not sorted correctly for large file "
               "indexing.\nSort it now? [y/N] ",
               subject_count);
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

bool ParseCount(const std::string& text, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "fvx compile: %s\n", problem);
  std::fprintf(stderr,
               "usage: fvx compile [--check] SOURCE [-o OUT] [--sort=ask|yes|no] "
               "[--segmentation=N]\n"
               "       [--skip-pictures] [--max-picture-megapixels=N] [--replace-underscores]\n"
               "       [--no-warnings]\n"
               "       [--log=FILE | --no-log] [--diagnostics=gcc] [--link-report=FILE.html]\n");
  return kExitUsage;
}

int RunCompile(const std::vector<std::string>& args) {
  // Past the file-size limit (ulimit -f) a write fails with EFBIG, which
  // the compile reports, instead of the signal ending the process unheard.
  ::signal(SIGXFSZ, SIG_IGN);
  std::string source, output, log_file, link_report;
  bool check = false, no_log = false, gcc = false, replace_underscores = false;
  bool skip_pictures = false, no_warnings = false;
  std::string sort;
  bool have_segmentation = false;
  uint32_t segmentation = 0;
  uint32_t picture_megapixels = imaging::kDefaultPixelLimit >> 20;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o") {
      if (i + 1 >= args.size()) return Usage("-o needs a file name");
      output = args[++i];
    } else if (a == "--check") {
      check = true;
    } else if (a.rfind("--sort=", 0) == 0) {
      sort = a.substr(7);
      if (sort != "ask" && sort != "yes" && sort != "no") return Usage("--sort takes ask, yes or no");
    } else if (a.rfind("--segmentation=", 0) == 0) {
      if (!ParseCount(a.substr(15), segmentation)) return Usage("--segmentation takes a number");
      have_segmentation = true;
    } else if (a.rfind("--max-picture-megapixels=", 0) == 0) {
      if (!ParseCount(a.substr(25), picture_megapixels) || picture_megapixels == 0) {
        return Usage("--max-picture-megapixels takes a number above 0");
      }
    } else if (a == "--skip-pictures") {
      skip_pictures = true;
    } else if (a == "--replace-underscores") {
      replace_underscores = true;
    } else if (a == "--no-warnings") {
      no_warnings = true;
    } else if (a.rfind("--log=", 0) == 0) {
      log_file = a.substr(6);
      if (log_file.empty()) return Usage("--log needs a file name");
    } else if (a.rfind("--link-report=", 0) == 0) {
      link_report = a.substr(14);
      if (link_report.empty()) return Usage("--link-report needs a file name");
    } else if (a == "--no-log") {
      no_log = true;
    } else if (a == "--diagnostics=gcc") {
      gcc = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (source.empty()) {
      source = a;
    } else {
      return Usage("only one source may be given");
    }
  }
  if (source.empty()) return Usage("no source given");
  if (!log_file.empty() && no_log) return Usage("--log and --no-log exclude each other");
  if (!link_report.empty() && check) return Usage("--link-report needs a compile, not --check");
  // The reader by the extension, as the compiler window chooses it.
  std::unique_ptr<compiler::CSourceReader> reader = compiler::MakeSourceReader(source);
  if (!reader) {
    std::printf("Bad file format!\n");
    return kExitUsage;
  }

  platform::Registry& registry = platform::Registry::Default();
  compiler::ImportOptions options = compiler::LoadImportOptions(registry);
  if (sort == "yes") options.sort_type = compiler::ImportOptions::kSortAutomatically;
  if (sort == "no") options.sort_type = compiler::ImportOptions::kSortNever;
  if (sort == "ask") options.sort_type = compiler::ImportOptions::kSortAsk;
  if (have_segmentation) {
    options.fixed_segmentation = true;
    options.segmentation_size = std::clamp(segmentation, compiler::ImportOptions::kMinSegmentation,
                                           compiler::ImportOptions::kMaxSegmentation);
  }
  if (skip_pictures) options.skip_pictures = true;
  if (no_warnings) options.disable_warnings = true;
  if (output.empty()) output = compiler::OutputPathFor(source);

  compiler::LogFile log;
  if (!no_log && (options.produce_log || !log_file.empty())) {
    std::string path = log_file;
    if (path.empty()) {
      path = compiler::LogFilePath(
          source, options.fixed_log_path ? std::string_view(options.log_path) : std::string_view());
    }
    if (!log.Open(path)) std::fprintf(stderr, "fvx compile: cannot write the log file %s\n", path.c_str());
  }
  if (!check) compiler::StoreLastImportFile(registry, source);

  StdoutSink screen(source, gcc);
  compiler::LoggingMessageSink messages(&screen, log.IsOpen() ? &log : nullptr,
                                        options.disable_warnings);
  InterruptProgress progress;
  compiler::ImportOptionsProvider provider(options, replace_underscores, AskToSort);
  compiler::CBookCompiler book_compiler(&messages, &progress, &provider);
  // Pictures need the image library, which lives on QtGui: it is opened only
  // for a book with pictures, and without it (a build without Qt) every
  // picture is reported as one that cannot be processed.
  const std::string program_directory = platform::ProgramDirectory();
  imaging::ImageLibraryLoader images(
      platform::JoinPath(program_directory, imaging::kImagingModuleName),
      platform::JoinPath(program_directory, "ImagePlugins"));
  compiler::BookWriterOptions writer_options;
  const uint64_t pixel_limit = uint64_t{picture_megapixels} << 20;
  writer_options.pictures = compiler::MakeDeferredPictureStage([&images, pixel_limit] {
    imaging::ImageLibrary* library = images.Get();
    if (library != nullptr) library->SetPixelLimit(pixel_limit);
    return library;
  });
  auto back_end = std::make_unique<compiler::CBookWriter>(std::move(writer_options));
  // The report reads what the writer resolved; without the flag the writer
  // runs alone.
  std::unique_ptr<compiler::LinkReportBackEnd> reporter;
  if (!link_report.empty()) {
    reporter = std::make_unique<compiler::LinkReportBackEnd>(*back_end);
    book_compiler.SetBackEnd(reporter.get());
  } else {
    book_compiler.SetBackEnd(back_end.get());
  }

  // Ctrl-C, a kill and a closed terminal all stop the compile the same way,
  // so no half-written file is left behind. Without SA_RESTART a signal
  // also ends a wait in progress.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction previous[std::size(kStopSignals)] {};
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &action, &previous[i]);
  }
  g_interrupted = 0;

  bool ok = book_compiler.Compile(*reader, source, output, false,
                                  check ? compiler::CompileMode::kCheck : compiler::CompileMode::kBook);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &previous[i], nullptr);
  }
  // The message table has no words for what is wrong inside an old book.
  if (auto* fv = dynamic_cast<compiler::CConvertingSourceReader*>(reader.get());
      fv != nullptr && !fv->error().empty()) {
    std::fprintf(stderr, "fvx compile: %s: %s\n", source.c_str(), fv->error().c_str());
  }
  if (check && book_compiler.context().errors() > 0) ok = false;
  if (ok && reporter) {
    if (!reporter->ok() || !compiler::WriteLinkReport(reporter->report(), link_report)) {
      std::fprintf(stderr, "fvx compile: cannot write the link report %s\n", link_report.c_str());
      return kExitFailed;
    }
  }
  return ok ? kExitOk : kExitFailed;
}

}  // namespace

FVX_COMMAND(compile, "compile [--check] SOURCE [-o OUT] [options]",
            "compile a tagged source into a book (--check: parse and validate only)", RunCompile);

}  // namespace fvx::tool
