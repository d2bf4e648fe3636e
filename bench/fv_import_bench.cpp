// An older-generation book against the same book as a ".txt" source: a
// generated book of N records (about 1 KB of text each, with formatting
// codes and links) is packed as a plain and as a compressed ".fv" file, and
// its generated source text is written as the equivalent ".txt". Each is
// compiled the same way, and the speed is given per byte of the equivalent
// source for all three, so that the figures compare directly.
//
//   fv_import_bench [--records=N] [--repeat=R] [--check]
//
// --check runs the front end only (parse, categories, selections, sort
// order), as `fvx compile --check` does; the default is the whole compile
// into a book. Each case runs R times (default 3); the best time counts.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bookformat/fv_book.h"
#include "compiler/app/book_compiler.h"
#include "compiler/base/test_sinks.h"
#include "compiler/backend/book_writer.h"
#include "compiler/frontend/converting_source_reader.h"
#include "compiler/frontend/source_reader_factory.h"
#include "platform/file.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace fvx::compiler;

double ProcessCpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Heading(uint32_t n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Record %06u", n);
  return buffer;
}

// Old-style record text: words, line breaks, bold and italic codes, a list
// and links to other records.
std::string RecordText(std::mt19937& random, uint32_t records) {
  static const char* kWords[] = {"orbit ", "planet ", "moon ",   "ice ",     "the ",
                                 "of ",    "and ",    "a ",      "surface ", "crater ",
                                 "ring ",  "gas ",    "rock ",   "is ",      "its ",
                                 "large ", "small ",  "bright ", "dark ",    "in "};
  std::string text = "\t\x01" + std::string("Summary") + "\t\x02 see \t\x11" +
                     Heading(1 + random() % records) + ">the other\t\x12.\n";
  int words = 0;
  while (text.size() < 1000) {
    text += kWords[random() % 20];
    if (++words % 12 == 0) text += "\n";
    if (words % 40 == 0) text += "\t\x03italic\t\x04 \t\x0Bitem\t\x0C ";
  }
  return text;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  fvx::platform::File file =
      fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
  return file.IsOpen() && file.Write(bytes.data(), bytes.size());
}

struct Timing {
  bool ok = true;
  double wall = 1e30;
  double cpu = 1e30;
};

Timing CompileBest(const std::string& source, const std::string& book, bool check, int repeat) {
  Timing best;
  for (int i = 0; i < repeat; ++i) {
    RecordingMessageSink messages;
    FixedOptions options;
    BookWriterOptions writer_options;
    writer_options.worker_threads = 1;
    writer_options.container_time = 1700000000;
    CBookWriter writer(writer_options);
    CBookCompiler compiler(&messages, nullptr, &options);
    compiler.SetBackEnd(&writer);
    std::unique_ptr<CSourceReader> reader = MakeSourceReader(source);
    const auto start = Clock::now();
    const double cpu_start = ProcessCpuSeconds();
    const bool ok = compiler.Compile(*reader, source, book, false,
                                     check ? CompileMode::kCheck : CompileMode::kBook);
    const double cpu = ProcessCpuSeconds() - cpu_start;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (!ok) {
      std::fprintf(stderr, "%s: compile failed: %s\n", source.c_str(),
                   messages.lines.empty() ? "" : messages.lines.back().second.c_str());
      best.ok = false;
    }
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, cpu);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t records = 10000;
  int repeat = 3;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--records=", 10) == 0) {
      records = static_cast<uint32_t>(std::strtoul(argv[i] + 10, nullptr, 10));
    } else if (std::strncmp(argv[i], "--repeat=", 9) == 0) {
      repeat = std::max(1, std::atoi(argv[i] + 9));
    } else if (std::strcmp(argv[i], "--check") == 0) {
      check = true;
    } else {
      std::fprintf(stderr, "usage: %s [--records=N] [--repeat=R] [--check]\n", argv[0]);
      return 2;
    }
  }
  if (records == 0 || records > fvx::format::kMaxFvSubjects) {
    std::fprintf(stderr, "--records takes 1 to %u\n", fvx::format::kMaxFvSubjects);
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/fvx_fv_import_bench";
  std::mt19937 random(11);
  fvx::format::FvBookBuilder plain({"bench", 0, false});
  fvx::format::FvBookBuilder packed({"bench", 0, true});
  std::string source;
  for (uint32_t n = 1; n <= records; ++n) {
    const std::string heading = Heading(n);
    const std::string text = RecordText(random, records);
    if (!plain.Add(heading, text) || !packed.Add(heading, text)) return 1;
    AppendRecordSource(n == 1, heading, text, source);
  }
  const std::string plain_path = base + "_plain.fv", packed_path = base + "_packed.fv";
  const std::string text_path = base + ".txt";
  const auto plain_bytes = plain.Finish();
  const auto packed_bytes = packed.Finish();
  if (!plain_bytes || !packed_bytes || !WriteFile(plain_path, *plain_bytes) ||
      !WriteFile(packed_path, *packed_bytes) || !WriteFile(text_path, source)) {
    std::fprintf(stderr, "cannot write the books under %s\n", base.c_str());
    return 1;
  }
  const double source_mb = static_cast<double>(source.size()) / 1e6;
  std::printf("%u records; equivalent source %.2f MB; .fv %.2f MB plain, %.2f MB compressed\n",
              records, source_mb, static_cast<double>(plain_bytes->size()) / 1e6,
              static_cast<double>(packed_bytes->size()) / 1e6);
  std::printf("%s, best of %d; MB/s per MB of equivalent source\n",
              check ? "front end only (--check)" : "whole compile into a book", repeat);
  std::printf("  %-16s %8s %10s %8s %10s\n", "source", "wall s", "MB/s", "CPU s", "MB/CPU-s");
  bool ok = true;
  const struct {
    const char* name;
    const std::string* path;
  } cases[] = {{".txt", &text_path}, {".fv plain", &plain_path}, {".fv compressed", &packed_path}};
  for (const auto& c : cases) {
    const Timing t = CompileBest(*c.path, base + ".fvx", check, repeat);
    ok = ok && t.ok;
    std::printf("  %-16s %8.3f %10.2f %8.3f %10.2f\n", c.name, t.wall, source_mb / t.wall, t.cpu,
                source_mb / t.cpu);
  }
  // How much of that is the check of the whole file when the book opens.
  for (const auto& c : cases) {
    if (c.path == &text_path) continue;
    double best = 1e30;
    for (int i = 0; i < repeat; ++i) {
      fvx::format::CFvwBook book;
      const double cpu_start = ProcessCpuSeconds();
      if (!book.Open(*c.path)) ok = false;
      best = std::min(best, ProcessCpuSeconds() - cpu_start);
    }
    std::printf("  %-16s opening (every subject checked): %.3f CPU s\n", c.name, best);
  }
  for (const std::string& path : {plain_path, packed_path, text_path, base + ".fvx"}) {
    std::remove(path.c_str());
  }
  return ok ? 0 : 1;
}
