// Front-end speed on a large book: generates a source of 100 000 subjects
// (about 105 MB: category assignments, internal links, anchors, tags,
// entities and plain text), then runs the compile as `fvx compile --check`
// does (parse, last subject, categories stored, selections evaluated, sort
// order; no book) and reports the parse and preparing times, MB/s and the
// peak memory.
//
//   build/bench/frontend_bench [--subjects=N] [--source=PATH]
//
// Memory: the front end keeps one subject's text at a time; what grows with
// the book is SQLite's page cache of the work database, which may reach
// 68266 pages (about 270 MB with 4 KiB pages) before it spills to its
// temporary file. The SQLite figure below is its own high-water mark.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "compiler/app/book_compiler.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace fvx::compiler;

// CPU seconds of this thread: the figure that does not depend on what else
// runs on the machine.
double CpuSeconds() {
  struct timespec t {};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double PeakRssMb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
}

// Headings are "Subject 000001" ... so the source is in sorted order, as a
// large book that asks for sorting would be after its first compile.
std::string Heading(uint32_t n) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Subject %06u", n);
  return buffer;
}

bool Generate(const std::string& path, uint32_t subjects) {
  static const char* kWords[] = {"orbit ", "planet ", "moon ", "ice ", "the ", "of ", "and ",
                                 "a ", "surface ", "crater ", "ring ", "gas ", "rock ",
                                 "is ", "its ", "large ", "small ", "bright ", "dark ", "in "};
  fvx::platform::File file = fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
  if (!file.IsOpen()) return false;
  std::mt19937 random(7);
  std::string out;
  out.reserve(1 << 20);
  out +=
      "<meta> title = \"Generated\" sortfile = yes </meta>\n"
      "<catdef> name = Kind values = planet, moon, comet, star required = yes </catdef>\n"
      "<catdef> name = Size type = numeric precision = 1 postmod = \" km\" </catdef>\n"
      "<catdef> name = Tags multiple = yes </catdef>\n"
      "<selection> name = Big query = Size > 5000 and Kind = planet "
      "name = Icy query = Tags = ice or !(Kind = moon) </selection>\n";
  static const char* kKinds[] = {"planet", "moon", "comet", "star"};
  for (uint32_t n = 1; n <= subjects; ++n) {
    out += "<new>" + Heading(n) + "\n";
    out += "<catset> Kind = ";
    out += kKinds[random() % 4];
    out += " Size = " + std::to_string(random() % 100000) + "." + std::to_string(random() % 10);
    uint32_t tag = random() % 50;
    out += " Tags = t" + std::to_string(tag) + ", t" + std::to_string((tag + 1 + random() % 49) % 50) +
           " </catset>\n";
    out += "<a name=\"top\"><b>" + Heading(n) + "</b> is linked to <a href=\"" +
           Heading(1 + random() % subjects) + "\">another</a> and <a href=\"" +
           Heading(1 + random() % subjects) + "\" anch=\"top\">a third</a> &amp; more.\n";
    // About 800 bytes of text in lines, with a few tags and entities.
    size_t target = out.size() + 800;
    int words = 0;
    while (out.size() < target) {
      out += kWords[random() % 20];
      if (++words % 12 == 0) out += "\n";
      if (words % 40 == 0) out += "<i>italic</i> &lt;x&gt; ";
    }
    out += "\n<p>\n";
    if (out.size() > (1u << 20) - 4096) {
      if (!file.Write(out.data(), out.size())) return false;
      out.clear();
    }
  }
  return file.Write(out.data(), out.size());
}

// Notes when the parse ends ("Preparing to process...") and counts problems.
class TimingSink : public MessageSink {
 public:
  void Report(Level level, const std::string& text) override {
    if (text == "Preparing to process...") {
      parse_end = Clock::now();
      parse_end_cpu = CpuSeconds();
    }
    if (level != Level::kInformation) {
      if (++problems <= 5) std::fprintf(stderr, "  %s\n", text.c_str());
    }
    last = text;
  }
  Clock::time_point parse_end{};
  double parse_end_cpu = 0;
  int problems = 0;
  std::string last;
};

}  // namespace

int main(int argc, char** argv) {
  uint32_t subjects = 100000;
  std::string source;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--subjects=", 11) == 0) {
      subjects = static_cast<uint32_t>(std::strtoul(argv[i] + 11, nullptr, 10));
    } else if (std::strncmp(argv[i], "--source=", 9) == 0) {
      source = argv[i] + 9;
    } else {
      std::fprintf(stderr, "usage: %s [--subjects=N] [--source=PATH]\n", argv[0]);
      return 2;
    }
  }
  bool generated = source.empty();
  if (generated) {
    const char* tmp = std::getenv("TMPDIR");
    source = std::string(tmp && *tmp ? tmp : "/tmp") + "/fvx_frontend_bench.txt";
    auto start = Clock::now();
    if (!Generate(source, subjects)) {
      std::fprintf(stderr, "cannot write %s\n", source.c_str());
      return 1;
    }
    std::printf("generated %u subjects in %.1f s\n", subjects,
                std::chrono::duration<double>(Clock::now() - start).count());
  }
  fvx::platform::File probe = fvx::platform::File::Open(source, fvx::platform::File::Mode::kRead);
  double megabytes = static_cast<double>(probe.Size().value_or(0)) / 1e6;
  probe.Close();
  double rss_before = PeakRssMb();

  TimingSink messages;
  CBookCompiler compiler(&messages, nullptr, nullptr);
  CTextSourceReader reader;
  auto start = Clock::now();
  double start_cpu = CpuSeconds();
  bool ok = compiler.Compile(reader, source, source + ".fvx", false, CompileMode::kCheck);
  auto end = Clock::now();
  double end_cpu = CpuSeconds();
  if (messages.parse_end == Clock::time_point{}) {
    messages.parse_end = end;
    messages.parse_end_cpu = end_cpu;
  }

  double parse_s = std::chrono::duration<double>(messages.parse_end - start).count();
  double prepare_s = std::chrono::duration<double>(end - messages.parse_end).count();
  double parse_cpu = messages.parse_end_cpu - start_cpu;
  double prepare_cpu = end_cpu - messages.parse_end_cpu;
  std::printf("source            %.1f MB\n", megabytes);
  std::printf("result            %s (%s), %d problem message(s)\n", ok ? "ok" : "FAILED",
              messages.last.c_str(), messages.problems);
  std::printf("                  CPU time         wall time\n");
  std::printf("parse             %6.2f s %6.1f MB/s  %6.2f s %6.1f MB/s\n", parse_cpu,
              megabytes / parse_cpu, parse_s, megabytes / parse_s);
  std::printf("preparing         %6.2f s            %6.2f s  (categories, selections, sort order)\n",
              prepare_cpu, prepare_s);
  std::printf("front end total   %6.2f s %6.1f MB/s  %6.2f s %6.1f MB/s\n",
              parse_cpu + prepare_cpu, megabytes / (parse_cpu + prepare_cpu), parse_s + prepare_s,
              megabytes / (parse_s + prepare_s));
  std::printf("peak RSS          %.1f MB (%.1f MB before the compile)\n", PeakRssMb(), rss_before);
  std::printf("SQLite high-water %.1f MB (page cache of the work database)\n",
              static_cast<double>(sqlite3_memory_highwater(0)) / 1048576.0);
  if (generated) std::remove(source.c_str());
  return ok ? 0 : 1;
}
