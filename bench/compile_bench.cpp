// The whole compile of a large generated book: MB/s of source, the share of
// each stage, peak memory, and whether two compiles give the same bytes.
//
//   compile_bench [--subjects N] [--megabytes M] [--threads T] [--fixed S]
//                 [--keep FOLDER] [--no-repeat]
//
// The source has N subjects of about M/N bytes each: words of a Zipf-like
// vocabulary, three categories, a selection, links between subjects (some
// to anchors), and an anchor in every tenth subject; subjects come in
// shuffled order with "sortfile = yes". Run it with taskset -c 0 for the
// one-core figure.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "compiler/app/book_compiler.h"
#include "compiler/backend/book_writer.h"
#include "compiler/base/test_sinks.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/file.h"
#include "platform/scratch_file.h"

namespace {

using Clock = std::chrono::steady_clock;
using fvx::compiler::Level;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Marks the moments the driver announces its stages.
class StageClock : public fvx::compiler::MessageSink {
 public:
  void Report(Level level, const std::string& text) override {
    if (level != Level::kInformation && ++problems <= 3) {
      std::printf("  ! %s\n", text.c_str());
    }
    const auto now = Clock::now();
    if (text == "Preparing to process...") parsed = now;
    if (text == "Processing... ") prepared = now;
    if (text.rfind("Writing fv file", 0) == 0) written = now;
    if (text.rfind("Segmentation = ", 0) == 0 && text.find("Selected") == std::string::npos) ++trials;
    if (verbose) std::printf("  | %s\n", text.c_str());
  }
  Clock::time_point parsed, prepared, written;
  int trials = 0;
  int problems = 0;
  bool verbose = false;
};

// Words of letters drawn with English-like frequencies, so that the book
// has about as many distinct three-letter keys as natural text.
std::string MakeWord(std::mt19937& random) {
  static const char kLetters[] = "etaoinshrdlcumwfgypbvkjxqz";
  static const double kFrequency[] = {12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8,
                                      2.4,  2.4, 2.2, 2.0, 2.0, 1.9, 1.5, 1.0, 0.8, 0.2, 0.2, 0.1, 0.1};
  static std::discrete_distribution<int> letter(std::begin(kFrequency), std::end(kFrequency));
  const int length = 2 + static_cast<int>(random() % 6) + static_cast<int>(random() % 4);
  std::string word;
  for (int i = 0; i < length; ++i) word += kLetters[letter(random)];
  return word;
}

struct Source {
  std::string text;
  uint32_t subjects = 0;
};

Source Generate(uint32_t subjects, uint64_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  // A vocabulary whose use falls off like natural text: few words are
  // everywhere, most are rare.
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 40000; ++i) vocabulary.push_back(MakeWord(random));
  std::vector<double> weights;
  for (size_t i = 0; i < vocabulary.size(); ++i) weights.push_back(1.0 / std::pow(i + 1.0, 1.05));
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());

  std::vector<std::string> headings;
  for (uint32_t s = 0; s < subjects; ++s) {
    std::string heading = vocabulary[random() % 5000];
    heading[0] = static_cast<char>(heading[0] - 'a' + 'A');
    heading += " " + vocabulary[random() % 20000] + " " + std::to_string(s);
    headings.push_back(heading);
  }
  std::vector<uint32_t> order(subjects);
  for (uint32_t s = 0; s < subjects; ++s) order[s] = s;
  std::shuffle(order.begin(), order.end(), random);

  Source source;
  source.subjects = subjects;
  std::string& out = source.text;
  out.reserve(bytes + bytes / 20);
  out += "<meta> title=\"Generated atlas\" author=\"compile_bench\" sortfile=yes </meta>\n";
  out += "<catdef> name=\"Region\" type=string </catdef>\n";
  out += "<catdef> name=\"Tags\" type=string multiple=yes </catdef>\n";
  out += "<catdef> name=\"Year\" type=numeric precision=0 </catdef>\n";
  out += "<selection> name=\"Northern\" query=Region=\"north 3\" </selection>\n";
  const uint64_t per_subject = bytes / subjects;
  for (uint32_t s : order) {
    out += "<new>" + headings[s] + "\n";
    const size_t start = out.size();
    if (s % 10 == 0) out += "<a name=\"top\">Overview</a> ";
    size_t words = 0;
    while (out.size() - start < per_subject) {
      if (words % 60 == 59) {
        const uint32_t target = static_cast<uint32_t>(random() % subjects);
        out += "<a href=\"" + headings[target] + "\"";
        if (target % 10 == 0 && random() % 2 == 0) out += " anch=\"top\"";
        out += ">" + vocabulary[pick(random)] + "</a> ";
      } else if (words % 97 == 50) {
        out += "<b>" + vocabulary[pick(random)] + "</b> ";
      } else {
        out += vocabulary[pick(random)];
        out += words % 14 == 13 ? ".\n" : " ";
      }
      ++words;
    }
    out += "\n<catset> Region=\"north " + std::to_string(s % 7) + "\" Tags=\"t" +
           std::to_string(s % 200) + "\",\"t" + std::to_string((s * 7 + 1) % 200) + "\" Year=" +
           std::to_string(1900 + s % 120) + " </catset>\n";
  }
  return source;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

long PeakMemoryKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string ReadAll(const std::string& path) {
  fvx::platform::File file = fvx::platform::File::Open(path, fvx::platform::File::Mode::kRead);
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return "";
  return bytes;
}

struct Result {
  bool ok = false;
  double total = 0;
  std::string book;
};

Result CompileOnce(const std::string& source_path, const std::string& book_path, int threads,
                   uint32_t fixed, bool report) {
  StageClock clock;
  fvx::compiler::FixedOptions options;
  if (fixed > 0) {
    options.fixed_segmentation = true;
    options.segmentation = fixed;
  }
  fvx::compiler::BookWriterOptions writer_options;
  writer_options.worker_threads = threads;
  writer_options.container_time = 1700000000;
  fvx::compiler::CBookWriter writer(writer_options);
  fvx::compiler::CBookCompiler compiler(&clock, nullptr, &options);
  compiler.SetBackEnd(&writer);
  fvx::compiler::CTextSourceReader reader;
  const auto start = Clock::now();
  const double cpu_start = CpuSeconds();
  Result result;
  result.ok = compiler.Compile(reader, source_path, book_path, false);
  const auto end = Clock::now();
  result.total = Seconds(start, end);
  const double cpu = CpuSeconds() - cpu_start;
  if (!report) return result;

  struct stat status {};
  stat(source_path.c_str(), &status);
  const double megabytes = static_cast<double>(status.st_size) / 1e6;
  const fvx::compiler::WriterTimings& t = writer.timings();
  const double parse = Seconds(start, clock.parsed);
  const double prepare = Seconds(clock.parsed, clock.prepared);
  const double wrap = t.wrap;
  auto line = [&](const char* name, double seconds) {
    std::printf("  %-44s %7.2f s  %5.1f %%\n", name, seconds, 100.0 * seconds / result.total);
  };
  std::printf("compile: %s, %.1f MB of source in %.2f s: %.2f MB/s (threads %d); "
              "%.2f s of CPU: %.2f MB per CPU-second\n",
              result.ok ? "ok" : "FAILED", megabytes, result.total, megabytes / result.total,
              threads, cpu, megabytes / cpu);
  line("parse", parse);
  line("store categories, selections; sort order", prepare);
  line("writer: sort check, maps, counts", t.prepare);
  line("writer: pictures", t.pictures);
  line("writer: tables C L S Q Z", t.tables);
  line("writer: text encoding + compression + keys", t.texts);
  line("writer: segmentation trials", t.segmentation);
  line("writer: final search index", t.index);
  line("writer: digest", t.digest);
  line("wrap", wrap);
  std::printf("  segmentation trials: %d, chosen %u segments, overhead %u %%, efficiency %u %%\n",
              clock.trials, compiler.statistics().segmentation,
              compiler.statistics().search_overhead_percent,
              compiler.statistics().search_efficiency_percent);
  std::printf("  book %.1f MB; key lists %.1f MB; peak memory %.1f MB; %d warnings/errors\n",
              static_cast<double>(compiler.statistics().output_file_size) / 1e6,
              static_cast<double>(t.key_memory) / 1e6, PeakMemoryKiB() / 1024.0, clock.problems);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t subjects = 100000;
  uint64_t megabytes = 100;
  int threads = 0;
  uint32_t fixed = 0;
  std::string keep;
  bool repeat = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (arg == "--subjects") subjects = static_cast<uint32_t>(std::stoul(value()));
    else if (arg == "--megabytes") megabytes = std::stoull(value());
    else if (arg == "--threads") threads = std::stoi(value());
    else if (arg == "--fixed") fixed = static_cast<uint32_t>(std::stoul(value()));
    else if (arg == "--keep") keep = value();
    else if (arg == "--no-repeat") repeat = false;
    else {
      std::fprintf(stderr, "usage: compile_bench [--subjects N] [--megabytes M] [--threads T] "
                           "[--fixed S] [--keep FOLDER] [--no-repeat]\n");
      return 2;
    }
  }
  const std::string folder = keep.empty() ? fvx::platform::TemporaryFolderWithMostSpace() : keep;
  const std::string source_path = folder + "/compile_bench_" + std::to_string(getpid()) + ".txt";
  const std::string book_path = folder + "/compile_bench_" + std::to_string(getpid()) + ".fvx";
  {
    const auto start = Clock::now();
    const Source source = Generate(subjects, megabytes * 1000000, 20240611);
    fvx::platform::File file =
        fvx::platform::File::Open(source_path, fvx::platform::File::Mode::kCreateTruncate);
    if (!file.IsOpen() || !file.Write(source.text.data(), source.text.size())) {
      std::fprintf(stderr, "cannot write %s\n", source_path.c_str());
      return 1;
    }
    std::printf("source: %u subjects, %.1f MB, generated in %.1f s\n", source.subjects,
                static_cast<double>(source.text.size()) / 1e6, Seconds(start, Clock::now()));
  }
  const Result first = CompileOnce(source_path, book_path, threads, fixed, true);
  int status = first.ok ? 0 : 1;
  if (first.ok && repeat) {
    const std::string bytes = ReadAll(book_path);
    const Result second = CompileOnce(source_path, book_path, threads, fixed, false);
    const bool same = second.ok && ReadAll(book_path) == bytes;
    std::printf("second compile: %.2f s, %s\n", second.total,
                same ? "byte-identical book" : "DIFFERENT BOOK");
    if (!same) status = 1;
  }
  if (keep.empty()) {
    std::remove(source_path.c_str());
    std::remove(book_path.c_str());
  }
  return status;
}
