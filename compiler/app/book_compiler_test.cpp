#include "compiler/app/book_compiler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "compiler/base/test_sinks.h"
#include "compiler/frontend/text_source_reader.h"

// Clang tells of AddressSanitizer only through __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FVX_CLANG_ASAN 1
#endif
#endif

namespace fvx::compiler {
namespace {

std::string WriteSource(const std::string& text) {
  static int n = 0;
  std::string path = ::testing::TempDir() + "fvx_compile_" + std::to_string(::getpid()) + "_" +
                     std::to_string(n++) + ".txt";
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Stands in for the book writer: records what it was given, writes a
// small output and can overflow once.
class FakeBackEnd : public BookBackEnd {
 public:
  bool WriteBook(BookWriteJob& job, bool retry, bool& overflow) override {
    ++runs;
    retries.push_back(retry);
    huge_seen = job.properties.huge_file;
    subjects_in_db = 0;
    CSqlQuery q(job.database);
    if (q.Query("SELECT COUNT(*) FROM tbl_Para") && q.Step()) {
      int64_t n = 0;
      if (q.ColumnInt(0, n)) subjects_in_db = n;
    }
    spill_size = job.text_spill.Size().value_or(0);
    if (overflow_first && !retry) {
      overflow = true;
      return false;
    }
    job.statistics.subjects = static_cast<uint32_t>(subjects_in_db);
    job.statistics.book_size = 2048;
    job.statistics.text_bytes_processed = spill_size;
    job.statistics.text_bytes_stored = spill_size / 2;
    return job.stream.Write("BOOK", 4);
  }
  bool WrapContainer(BookWriteJob&, const std::string& output_path) override {
    wrapped = output_path;
    std::ofstream(output_path, std::ios::binary) << std::string(1500, 'b');
    return true;
  }
  bool overflow_first = false;
  int runs = 0;
  std::vector<bool> retries;
  bool huge_seen = false;
  int64_t subjects_in_db = 0;
  uint64_t spill_size = 0;
  std::string wrapped;
};

struct Compiled {
  RecordingMessageSink messages;
  bool ok = false;
  std::vector<std::string> Lines() const { return messages.LogLines(); }
  std::string Last() const { return Lines().empty() ? "" : Lines().back(); }
};

void CompileSource(Compiled& out, const std::string& source, BookBackEnd* back_end,
         ProgressSink* progress = nullptr, CompileMode mode = CompileMode::kBook,
         std::string* output = nullptr) {
  std::string path = WriteSource(source);
  std::string book = OutputPathFor(path);
  FixedOptions options;
  CBookCompiler compiler(&out.messages, progress, &options);
  compiler.SetBackEnd(back_end);
  CTextSourceReader reader;
  out.ok = compiler.Compile(reader, path, book, false, mode);
  if (output) *output = book;
  std::remove(path.c_str());
}

const char kSource[] =
    "<catdef> name = Kind values = Planet, Moon required = yes </catdef>\n"
    "<selection> name = Moons query = Kind = Moon </selection>\n"
    "<new>Mars\n<catset> Kind = Planet </catset>Red.\n"
    "<new>Phobos\n<catset> Kind = Moon </catset>Small.\n";

TEST(BookCompilerTest, WholePipelineWithABackEnd) {
  FakeBackEnd back_end;
  Compiled c;
  std::string book;
  CompileSource(c, kSource, &back_end, nullptr, CompileMode::kBook, &book);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(back_end.runs, 1);
  EXPECT_EQ(back_end.subjects_in_db, 2);
  EXPECT_EQ(back_end.spill_size, 12u);  // "Red.\n" + "Small.\n"
  EXPECT_EQ(back_end.wrapped, book);
  std::vector<std::string> expected = {
      "Parsing input file... ",
      "Compiling catdef \"Kind\"",
      "Compiling subjects... ",
      "Preparing to process...",
      "Processing... ",
      "Writing fv file " + book,
      "********** Compilation statistics **********",
      "Number of subjects : 2",
      "Total size of text data processed : 12 Bytes",
      "Total size of text data saved: 6 Bytes ( 50.00% )",
      "Overhead introduced by text data : 0.29%",
      "Fvx file size : 1.46 KB",
      "Time taken to compile : 0 seconds.",
      "********************************************",
      "Compilation successfully completed.",
      "0 error(s), 0 warning(s)",
  };
  std::vector<std::string> lines = c.Lines();
  // The time may pass a second boundary on a slow machine.
  for (auto& line : lines) {
    if (line.rfind("Time taken to compile : ", 0) == 0) line = "Time taken to compile : 0 seconds.";
  }
  EXPECT_EQ(lines, expected);
  std::remove(book.c_str());
}

TEST(BookCompilerTest, OverflowRewritesOnceInHugeMode) {
  FakeBackEnd back_end;
  back_end.overflow_first = true;
  Compiled c;
  std::string book;
  CompileSource(c, kSource, &back_end, nullptr, CompileMode::kBook, &book);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(back_end.retries, (std::vector<bool>{false, true}));
  EXPECT_TRUE(back_end.huge_seen);
  EXPECT_TRUE(c.messages.Has(Level::kError, MessageText(MessageId::kOutputExceeds4Gb)));
  EXPECT_EQ(c.Last(), "1 error(s), 0 warning(s)");
  std::remove(book.c_str());
}

TEST(BookCompilerTest, CancelDuringTheParse) {
  std::string source = "<new>Big\n" + std::string(30000, 'x');
  CancellingProgressSink progress(2);
  FakeBackEnd back_end;
  Compiled c;
  std::string book;
  CompileSource(c, source, &back_end, &progress, CompileMode::kBook, &book);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(back_end.runs, 0);
  std::vector<std::string> lines = c.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "[  Fatal Error  ] Tool execution canceled by the user.");
  EXPECT_EQ(lines.back(), "1 error(s), 0 warning(s)");
  EXPECT_NE(::access(book.c_str(), F_OK), 0);  // no output file

  // A cancel in the middle of a tag is only a cancel, not a malformed tag.
  CancellingProgressSink in_tag(0);
  Compiled t;
  CompileSource(t, "<new>Tag\n<b " + std::string(20000, ' ') + ">", &back_end, &in_tag);
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.Last(), "1 error(s), 0 warning(s)");
}

TEST(BookCompilerTest, FailuresEndWithTheErrorsMessage) {
  Compiled missing;
  FixedOptions options;
  CBookCompiler compiler(&missing.messages, nullptr, &options);
  CTextSourceReader reader;
  EXPECT_FALSE(compiler.Compile(reader, "/nonexistent/a.txt", "/nonexistent/a.fvx", false));
  EXPECT_EQ(missing.Lines(), (std::vector<std::string>{
                                 "Parsing input file... ",
                                 "[  Fatal Error  ] Failed to open input file \"/nonexistent/a.txt\" ",
                                 "     Reason: No such file or directory",
                                 "[  Fatal Error  ] Errors occurred while compiling!",
                                 "2 error(s), 0 warning(s)"}));

  Compiled required;
  CompileSource(required, "<catdef> name = R required = yes </catdef><new>One\ntext", nullptr);
  EXPECT_FALSE(required.ok);
  EXPECT_TRUE(required.messages.Has(
      Level::kFatal, "Line 2 : Col 5 : Required category \"R\" is not used in the subject \"One\""));
  EXPECT_EQ(required.Last(), "2 error(s), 0 warning(s)");
}

TEST(BookCompilerTest, NoScratchFileIsAFailureNotACancel) {
#if defined(__SANITIZE_ADDRESS__) || defined(FVX_CLANG_ASAN)
  // The sanitizers' type checks open a pipe of their own for each new
  // dynamic type, so with no descriptor left they report the check itself.
  GTEST_SKIP() << "needs a process without sanitizers";
#endif
  std::string path = WriteSource(kSource);
  Compiled c;
  FixedOptions options;
  CBookCompiler compiler(&c.messages, nullptr, &options);
  FakeBackEnd back_end;
  compiler.SetBackEnd(&back_end);
  CTextSourceReader reader;
  // Leave the process no file descriptor to give the text spill file.
  int lowest_free = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest_free, 0);
  ::close(lowest_free);
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  c.ok = compiler.Compile(reader, path, OutputPathFor(path), false);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  std::remove(path.c_str());
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(back_end.runs, 0);
  std::vector<std::string> lines = c.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("[  Fatal Error  ] Could not use a scratch file in the temporary folder ",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find("\": Too many open files"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "[  Fatal Error  ] Errors occurred while compiling!");
  EXPECT_EQ(lines[2], "2 error(s), 0 warning(s)");
}

// The book must never take the place of its own source, nor of something
// that is not a file (a device or FIFO would be replaced or written into).
TEST(BookCompilerTest, AnOutputThatIsTheSourceOrNoFileIsRefused) {
  const std::string folder = ::testing::TempDir() + "fvx_outputs_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string source = folder + "/book.txt";
  std::ofstream(source, std::ios::binary) << kSource;
  ASSERT_EQ(::link(source.c_str(), (folder + "/hard.txt").c_str()), 0);
  ASSERT_EQ(::symlink(source.c_str(), (folder + "/soft.fvx").c_str()), 0);
  ASSERT_EQ(::mkfifo((folder + "/pipe.fvx").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir((folder + "/dir.fvx").c_str(), 0700), 0);

  struct Case {
    std::string output;
    std::string message;
  };
  const std::vector<Case> cases = {
      {source, "The output file \"" + source + "\" is the source file itself. Choose another "
                                               "output file."},
      {folder + "/hard.txt", "The output file \"" + folder +
                                 "/hard.txt\" is the source file itself. Choose another output "
                                 "file."},
      {folder + "/soft.fvx", "The output file \"" + folder +
                                 "/soft.fvx\" is the source file itself. Choose another output "
                                 "file."},
      {folder + "/pipe.fvx",
       "The output file \"" + folder + "/pipe.fvx\" exists and is not a regular file."},
      {folder + "/dir.fvx",
       "The output file \"" + folder + "/dir.fvx\" exists and is not a regular file."},
  };
  for (const Case& test : cases) {
    Compiled c;
    FixedOptions options;
    CBookCompiler compiler(&c.messages, nullptr, &options);
    FakeBackEnd back_end;
    compiler.SetBackEnd(&back_end);
    CTextSourceReader reader;
    c.ok = compiler.Compile(reader, source, test.output, false);
    EXPECT_FALSE(c.ok) << test.output;
    EXPECT_EQ(back_end.runs, 0) << test.output;
    EXPECT_TRUE(back_end.wrapped.empty()) << test.output;
    EXPECT_EQ(c.Lines(), (std::vector<std::string>{"[  Fatal Error  ] " + test.message,
                                                   "[  Fatal Error  ] Errors occurred while "
                                                   "compiling!",
                                                   "2 error(s), 0 warning(s)"}));
  }
  std::ifstream in(source, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kSource);
  // A check writes nothing, so any output will do.
  Compiled check;
  FixedOptions options;
  CBookCompiler checker(&check.messages, nullptr, &options);
  CTextSourceReader reader;
  EXPECT_TRUE(checker.Compile(reader, source, source, false, CompileMode::kCheck));
  std::filesystem::remove_all(folder);
}

// A disk or share that fails part way through the source.
class FailingSourceReader : public CTextSourceReader {
 protected:
  std::optional<size_t> ReadSome(void* buffer, size_t count, int* error) override {
    if (reads_++ == 0) return CTextSourceReader::ReadSome(buffer, count, error);
    *error = EIO;
    return std::nullopt;
  }

 private:
  int reads_ = 0;
};

TEST(BookCompilerTest, AReadErrorFailsTheCompileAndKeepsTheOldBook) {
  std::string text = kSource;
  for (int i = 0; text.size() < CTextSourceReader::kBlockSize * 2; ++i) {
    text += "<new>Subject " + std::to_string(i) + "\n<catset> Kind = Moon </catset>Text.\n";
  }
  const std::string path = WriteSource(text);
  const std::string book = OutputPathFor(path);
  std::ofstream(book, std::ios::binary) << "the good book";
  Compiled c;
  FixedOptions options;
  CBookCompiler compiler(&c.messages, nullptr, &options);
  FakeBackEnd back_end;
  compiler.SetBackEnd(&back_end);
  FailingSourceReader reader;
  c.ok = compiler.Compile(reader, path, book, false);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(back_end.runs, 0);
  EXPECT_TRUE(c.messages.Has(Level::kFatal, "Failed to read input file \"" + path +
                                                "\" at byte 32768: Input/output error"))
      << ::testing::PrintToString(c.Lines());
  EXPECT_TRUE(c.messages.Has(Level::kFatal, "Errors occurred while compiling!"));
  std::ifstream in(book, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the good book");
  std::remove(path.c_str());
  std::remove(book.c_str());
}

TEST(BookCompilerTest, CheckModeAndNoBackEnd) {
  Compiled check;
  CompileSource(check, kSource, nullptr, nullptr, CompileMode::kCheck);
  EXPECT_TRUE(check.ok);
  std::vector<std::string> lines = check.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Source checked: no book was written.");
  Compiled no_writer;
  CompileSource(no_writer, kSource, nullptr);
  EXPECT_FALSE(no_writer.ok);
  EXPECT_TRUE(no_writer.messages.Has(Level::kInformation, MessageText(MessageId::kNoBookWriter)));
  EXPECT_FALSE(no_writer.messages.Has(Level::kFatal, "Errors occurred while compiling!"));
}

TEST(BookCompilerTest, OutputPaths) {
  EXPECT_EQ(OutputPathFor("/a/b.txt"), "/a/b.fvx");
  EXPECT_EQ(OutputPathFor("C:\\x.y\\book.TXT"), "C:\\x.y\\book.fvx");
  EXPECT_EQ(OutputPathFor("/a.b/book"), "/a.b/book.fvx");
}

}  // namespace
}  // namespace fvx::compiler
