// The damaged-book battery: the sample book, compiled by fvx and given a
// bookmark, then cut short at every kind of place, with a few hundred flipped
// bits and with header fields overwritten, through every reader command of
// fvx. The commands' own code is linked in and each run is a forked child
// (an exec per run would cost ten times more) with a time limit (alarm) and
// an address-space limit: a crash, a hang or a runaway allocation fails the
// test. A run that says the book is damaged must exit 1; a run that
// exits 1 must say why; under --verify every damaged book must exit 1 unless
// the change lies where no check can see it (the figures say how often).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/book_layout.h"
#include "bookformat/coding.h"
#include "platform/file.h"
#include "tools/fvx/command.h"

// The reader commands register themselves here, as they do in fvx.
namespace fvx::tool {
namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace
void RegisterCommand(const Command& command) { Registry().push_back(command); }
const std::vector<Command>& Commands() { return Registry(); }
}  // namespace fvx::tool

namespace {

constexpr unsigned kSecondsPerRun = 5;
constexpr rlim_t kAddressSpace = rlim_t{768} << 20;

struct ChildRun {
  bool crashed = false;
  bool hung = false;
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string bytes;
  ::lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  return bytes;
}

struct Pending {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Starts a run: args[0] is the command; "compile" and anything else not
// linked in runs the fvx program itself.
Pending StartFvx(const std::vector<std::string>& args) {
  const int out = ::memfd_create("fvx-out", MFD_CLOEXEC);
  const int err = ::memfd_create("fvx-err", MFD_CLOEXEC);
  const fvx::tool::Command* linked = nullptr;
  for (const fvx::tool::Command& command : fvx::tool::Commands()) {
    if (args[0] == command.name) linked = &command;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out, 1);
    ::dup2(err, 2);
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (nothing >= 0) ::dup2(nothing, 0);
#if !FVX_SANITIZED
    const struct rlimit limit = {kAddressSpace, kAddressSpace};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    ::alarm(kSecondsPerRun);  // kept across exec: a hang ends in SIGALRM
    if (linked != nullptr) {
      const int status = linked->run(std::vector<std::string>(args.begin() + 1, args.end()));
      std::fflush(stdout);
      std::fflush(stderr);
      std::_Exit(status);
    }
    std::vector<char*> argv;
    std::string program = FVX_TOOL;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(FVX_TOOL, argv.data());
    std::_Exit(127);
  }
  return {child, out, err};
}

ChildRun FinishFvx(const Pending& pending) {
  ChildRun run;
  int status = 0;
  while (::waitpid(pending.pid, &status, 0) < 0) {
  }
  const int out = pending.out, err = pending.err;
  if (WIFSIGNALED(status)) {
    run.hung = WTERMSIG(status) == SIGALRM;
    run.crashed = !run.hung;
  } else {
    run.status = WEXITSTATUS(status);
  }
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  ::close(out);
  ::close(err);
  return run;
}

ChildRun RunFvx(const std::vector<std::string>& args) { return FinishFvx(StartFvx(args)); }

std::string ReadFile(const std::string& path) {
  fvx::platform::File file = fvx::platform::File::Open(path, fvx::platform::File::Mode::kRead);
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  if (!bytes.empty() && !file.ReadAt(0, bytes.data(), bytes.size())) bytes.clear();
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fvx::platform::File file =
      fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
  ASSERT_TRUE(file.IsOpen() && file.Write(bytes.data(), bytes.size())) << path;
}

// Picture files are numbered per run; the numbers say nothing about the book.
std::string Normalised(const std::string& out) {
  static constexpr std::string_view kPrefix = "fvxtmp_";
  std::string normal;
  size_t at = 0;
  for (size_t found; (found = out.find(kPrefix, at)) != std::string::npos;) {
    normal.append(out, at, found + kPrefix.size() - at);
    at = found + kPrefix.size();
    while (at < out.size() && out[at] >= '0' && out[at] <= '9') ++at;
    normal += 'N';
  }
  normal.append(out, at, std::string::npos);
  return normal;
}

// One damage, applied to a copy of the intact book when its turn comes (the
// test process stays small, so its forks stay cheap).
struct Damaged {
  enum class Kind { kCut, kFlip, kOverwrite };
  std::string label;
  Kind kind;
  uint64_t at;     // the cut length, or the file offset changed
  uint32_t value;  // the bit flipped, or the u32 written
  // Where no check can see a change: fields outside the digest that any
  // value fills (colours, picture choices, the user's own slot table).
  bool unverifiable = false;

  std::string Apply(const std::string& intact) const {
    if (kind == Kind::kCut) return intact.substr(0, at);
    std::string bytes = intact;
    if (kind == Kind::kFlip) {
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << value));
    } else {
      fvx::format::StoreU32(reinterpret_cast<uint8_t*>(&bytes[at]), value);
    }
    return bytes;
  }
};

class DamagedBookBattery : public ::testing::Test {
 protected:
  void SetUp() override {
#if !FVX_TOOL_HAS_PICTURES
    GTEST_SKIP() << "fvx was built without pictures; the sample book needs them";
#endif
    char pattern[] = "/tmp/fvx-battery-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ::setenv("TMPDIR", folder_.c_str(), 1);
    ::setenv("FVX_HOME", folder_.c_str(), 1);
    ::setenv("FVX_REGISTRY", (folder_ + "/registry.db").c_str(), 1);
    book_ = folder_ + "/solar.fvx";
    const ChildRun compiled =
        RunFvx({"compile", std::string(FVX_SOURCE_DIR) + "/examples/solar_system.txt", "-o", book_});
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    const ChildRun marked = RunFvx({"bookmarks", book_, "add", "3", "Battery mark", "12"});
    ASSERT_EQ(marked.status, 0) << marked.err;
    intact_ = ReadFile(book_);
    ASSERT_FALSE(intact_.empty());
  }

  void TearDown() override {
    if (!folder_.empty()) {
      const std::string command = "rm -rf '" + folder_ + "'";
      EXPECT_EQ(std::system(command.c_str()), 0);
    }
  }

  // Commands whose exit 1 without a word means "nothing found".
  static bool MayFindNothing(size_t command) { return command == 1 || command == 4 || command == 5; }

  std::vector<std::vector<std::string>> Commands(const std::string& path) const {
    return {
        {"headings", path},
        {"headings", path, "Sa"},
        {"show", path, "5"},
        {"show", path, "20", "--html"},
        {"search", path, "planet", "--all"},
        {"search", path, "ice", "moons", "--or2"},
        {"filter", path, "Type = planet<OR>Type = moon"},
        {"categories", path},
        {"selections", path},
        {"selections", path, "Giant planets"},
        {"bookmarks", path, "list"},
        {"info", path},
    };
  }

  std::vector<Damaged> DamagedBooks() const {
    fvx::format::BookFile file;
    fvx::format::BookLayout layout;
    fvx::format::FormatError error;
    EXPECT_TRUE(fvx::format::OpenBook(book_, &file, &layout, &error)) << error.reason;
    const uint64_t start = layout.container.stream_start;
    const uint64_t size = intact_.size();
    std::vector<Damaged> books;

    // Truncation: inside the container header and record list, at, after
    // and inside every section, and within the trailing record.
    std::set<uint64_t> cuts = {0, 1, 40, 77, 78, start - 1, start, size - 64, size - 1};
    for (const fvx::format::SectionPlace& place : layout.Sections()) {
      for (uint64_t at : {place.position, place.position + 1, (place.position + place.next) / 2,
                          place.next - 1}) {
        cuts.insert(start + at);
      }
    }
    for (const fvx::format::StoreRef& store : layout.Stores()) cuts.insert(start + store.table_position + 2);
    for (uint64_t cut : cuts) {
      if (cut < size) books.push_back({"cut at " + std::to_string(cut), Damaged::Kind::kCut, cut, 0});
    }

    // Which bytes no check can judge: the container's name and dates,
    // colours, picture choices and the slot table's entries (the user
    // writes those; no digest covers them).
    const uint64_t v1_fields = start + 41;  // background .. visited-link colour
    auto unverifiable = [&](uint64_t at) {
      if (at < 32 || (at >= 36 && at < 48)) return true;  // the container's name and dates
      if (at >= v1_fields && at < v1_fields + 20) return true;
      if (layout.bookmarks && at >= start + layout.bookmarks->slot_table + 4 &&
          at < start + layout.bookmarks->place.next) {
        return true;
      }
      return false;
    };

    // Bit flips all over the file.
    std::mt19937 random(20261208);
    for (int flip = 0; flip < 300; ++flip) {
      const uint64_t at = random() % size;
      const uint32_t bit = static_cast<uint32_t>(random() % 8);
      books.push_back({"bit " + std::to_string(bit) + " of byte " + std::to_string(at),
                       Damaged::Kind::kFlip, at, bit, unverifiable(at)});
    }

    // Header fields and the fixed fields of sections overwritten.
    struct Field {
      const char* name;
      uint64_t stream_position;
    };
    std::vector<Field> fields = {{"header next", 1},         {"table block size", 9},
                                 {"content block size", 13}, {"subject count", 17},
                                 {"anchor count", 21},       {"picture count", 25},
                                 {"category count", 29},     {"selection count", 33},
                                 {"end of book", 37},        {"background tile", 45}};
    for (const fvx::format::SectionPlace& place : layout.Sections()) {
      if (place.tag != 'H' && place.tag != 'I') fields.push_back({"a section's next", place.position + 1});
    }
    for (const fvx::format::StoreRef& store : layout.Stores()) {
      fields.push_back({store.name, store.table_position});  // the first block's position
    }
    for (const fvx::format::CategorySection& c : layout.categories) {
      fields.push_back({"a category's value count", c.place.position + 1 + 4 + 4 + c.name.size() + 4});
    }
    if (layout.bookmarks) fields.push_back({"the slot table's place", layout.bookmarks->place.position + 5});
    if (layout.bookmarks) fields.push_back({"the slot count", layout.bookmarks->slot_table});
    for (const Field& field : fields) {
      const uint64_t at = start + field.stream_position;
      if (at + 4 > size) continue;
      const uint32_t value = fvx::format::LoadU32(reinterpret_cast<const uint8_t*>(&intact_[at]));
      for (uint32_t replacement : {0u, value - 1, value + 1, 200000000u, 0xFFFFFFFFu}) {
        if (replacement == value) continue;
        // Another count of used slots that the table can hold: the user's own.
        const bool user_data = std::string(field.name) == "the slot count" && replacement < 256;
        books.push_back({std::string(field.name) + " = " + std::to_string(replacement),
                         Damaged::Kind::kOverwrite, at, replacement,
                         user_data || std::string(field.name) == "background tile"});
      }
    }
    return books;
  }

  std::string folder_;
  std::string book_;
  std::string intact_;
};

TEST_F(DamagedBookBattery, EveryReaderCommandFailsCleanly) {
  // The intact book under the damaged books' name: outputs that print the
  // path compare equal.
  const std::string path = folder_ + "/damaged.fvx";
  WriteFile(path, intact_);
  std::vector<std::string> baseline;
  for (const std::vector<std::string>& command : Commands(path)) {
    const ChildRun run = RunFvx(command);
    ASSERT_EQ(run.status, 0) << command[0] << ": " << run.err;
    ASSERT_EQ(run.err, "") << command[0];
    baseline.push_back(Normalised(run.out));
  }

  const std::vector<Damaged> books = DamagedBooks();
  int silent_changes = 0, reported = 0, unchanged = 0, caught_by_verify = 0;
  int unverifiable_passed = 0, found_nothing = 0;
  std::map<std::string, int> silent_kinds;
  std::vector<std::string> silent_books;
  size_t turn = 0;
  for (const Damaged& book : books) {
    WriteFile(path, book.Apply(intact_));
    bool changed_silently = false, detected = false, same = true, nothing = false;
    const std::vector<std::vector<std::string>> commands = Commands(path);
    // Every command on the book at once, and one of them again under --verify.
    std::vector<std::string> verified = commands[turn++ % commands.size()];
    verified.push_back("--verify");
    std::vector<Pending> pending;
    for (const std::vector<std::string>& command : commands) pending.push_back(StartFvx(command));
    pending.push_back(StartFvx(verified));
    std::vector<ChildRun> runs;
    for (const Pending& p : pending) runs.push_back(FinishFvx(p));
    for (size_t c = 0; c < commands.size(); ++c) {
      const ChildRun& run = runs[c];
      const std::string what = commands[c][0] + " on " + book.label;
      ASSERT_FALSE(run.crashed) << what;
      ASSERT_FALSE(run.hung) << what;
      EXPECT_TRUE(run.status == 0 || run.status == 1) << what << ": " << run.status;
      if (run.status == 1 && run.err.empty() && MayFindNothing(c)) {
        nothing = true;
      } else if (run.status == 1) {
        EXPECT_NE(run.err, "") << what << " failed without saying why";
        detected = true;
      }
      if (run.err.find("damaged") != std::string::npos) {
        EXPECT_EQ(run.status, 1) << what << " reported damage: " << run.err;
      }
      if (!run.err.empty()) {
        EXPECT_EQ(run.status, 1) << what << " said something and exited 0: " << run.err;
      }
      if (run.status == 0 && Normalised(run.out) != baseline[c]) {
        if (!changed_silently) silent_books.push_back(book.label);
        changed_silently = true;
        silent_books.back() += " " + commands[c][0];
        silent_kinds[commands[c][0]]++;
      }
      if (run.status != 0 || Normalised(run.out) != baseline[c]) same = false;
    }
    if (changed_silently) ++silent_changes;
    if (detected) ++reported;
    if (same) ++unchanged;
    if (nothing && !detected) ++found_nothing;

    // --verify: the book must be refused.
    const ChildRun& run = runs.back();
    ASSERT_FALSE(run.crashed || run.hung) << verified[0] << " --verify on " << book.label;
    if (run.status == 1) {
      ++caught_by_verify;
      EXPECT_NE(run.err, "") << book.label;
    } else if (book.unverifiable) {
      ++unverifiable_passed;
    } else {
      ADD_FAILURE() << verified[0] << " --verify accepted " << book.label;
    }
  }
  std::printf(
      "damaged books: %zu; a command reported damage (exit 1): %d; exit 0 with changed output "
      "without --verify: %d; only \"nothing found\" (exit 1) as a sign: %d; every output "
      "unchanged: %d; refused under --verify: %d; passed --verify with a change no check can "
      "see: %d\n",
      books.size(), reported, silent_changes, found_nothing, unchanged, caught_by_verify,
      unverifiable_passed);
  for (const auto& [command, count] : silent_kinds) {
    std::printf("  changed output, exit 0: %s %d\n", command.c_str(), count);
  }
  for (const std::string& label : silent_books) std::printf("  %s\n", label.c_str());
}

}  // namespace
