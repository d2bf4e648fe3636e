#include "bench/bench_book.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include "compiler/app/book_compiler.h"
#include "compiler/backend/book_writer.h"
#include "compiler/base/test_sinks.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/paths.h"

namespace fvx::bench {
namespace {

// Only what stops the compile is worth printing among benchmark figures.
class QuietSink : public compiler::MessageSink {
 public:
  void Report(compiler::Level level, const std::string& text) override {
    if (level == compiler::Level::kError || level == compiler::Level::kFatal) {
      std::fprintf(stderr, "compile: %s\n", text.c_str());
    }
  }
};

}  // namespace

std::string BenchCacheFolder(const std::string& name) {
  return platform::JoinPath(platform::ProgramDirectory(), "../" + name);
}

std::string CachedBenchBook(const std::string& folder, const std::string& name,
                            const std::function<bool(const std::string& source_path)>& write_source,
                            bool keep_source) {
  const std::string book = folder + "/" + name + ".fvx";
  struct stat status {};
  if (stat(book.c_str(), &status) == 0 && status.st_size > 0) return book;
  platform::EnsureDirectory(folder);
  const std::string source = folder + "/" + name + ".txt";
  std::printf("generating %s ...\n", source.c_str());
  if (!write_source(source)) return {};
  stat(source.c_str(), &status);
  std::printf("compiling %.1f MB of source (once; the book stays in %s) ...\n",
              static_cast<double>(status.st_size) / 1e6, folder.c_str());
  std::fflush(stdout);
  QuietSink sink;
  compiler::FixedOptions options;
  compiler::BookWriterOptions writer_options;
  writer_options.worker_threads = 2;
  compiler::CBookWriter writer(writer_options);
  compiler::CBookCompiler compiler(&sink, nullptr, &options);
  compiler.SetBackEnd(&writer);
  compiler::CTextSourceReader reader;
  const auto start = std::chrono::steady_clock::now();
  const bool compiled = compiler.Compile(reader, source, book, false);
  if (!keep_source) std::remove(source.c_str());
  if (!compiled) return {};
  std::printf("compiled in %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return book;
}

}  // namespace fvx::bench
