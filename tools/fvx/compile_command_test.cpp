// `fvx compile` as authors and scripts use it: the real program in a child
// process, with its registry pointed at a scratch database, so that exit
// codes, printed lines, the log file, stored options and Ctrl-C are what a
// user gets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;
using fvx::platform::Registry;
using fvx::platform::RegistryRoot;

constexpr char kOptionsKey[] = "Software\\Calderwick Ltd.\\Folivox\\Fvx\\ImportOptions";

class CompileCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_compile_cmd_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    registry_path_ = (dir_ / "registry.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  struct Result {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::vector<std::string> Lines() const {
      std::vector<std::string> lines;
      std::istringstream in(out);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      return lines;
    }
    std::string Last() const {
      auto lines = Lines();
      return lines.empty() ? std::string() : lines.back();
    }
    bool Has(const std::string& line) const {
      for (const std::string& l : Lines()) {
        if (l == line) return true;
      }
      return false;
    }
    // Lines that are warnings, errors or fatal errors.
    std::vector<std::string> Problems() const {
      std::vector<std::string> out;
      for (const std::string& l : Lines()) {
        if (l.rfind("[ ", 0) == 0) out.push_back(l);
      }
      return out;
    }
  };

  std::string Write(const std::string& name, const std::string& text) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Starts fvx with args; stdin is /dev/null, stdout a pipe (returned).
  pid_t Start(const std::vector<std::string>& args, int& stdout_fd, const std::string& err_path,
              rlim_t file_size_limit = RLIM_INFINITY) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
      if (file_size_limit != RLIM_INFINITY) {
        struct rlimit limit {file_size_limit, file_size_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      ::setenv("FVX_REGISTRY", registry_path_.c_str(), 1);
      ::setenv("FVX_HOME", dir_.c_str(), 1);
      int in = ::open("/dev/null", O_RDONLY);
      int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in, 0);
      ::dup2(pipe_fds[1], 1);
      ::dup2(err, 2);
      ::close(pipe_fds[0]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(tool_.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(tool_.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    stdout_fd = pipe_fds[0];
    return pid;
  }

  static std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Waits at most timeout_seconds, then kills the child: a hang is a failure,
  // not a stuck test run.
  static int WaitAtMost(pid_t pid, int timeout_seconds) {
    for (int i = 0; i < timeout_seconds * 20; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(50000);
    }
    ::kill(pid, SIGKILL);
    Wait(pid);
    return -1;  // hung
  }

  Result Run(const std::vector<std::string>& args, rlim_t file_size_limit = RLIM_INFINITY) {
    Result result;
    std::string err_path = (dir_ / "stderr.txt").string();
    int out_fd = -1;
    pid_t pid = Start(args, out_fd, err_path, file_size_limit);
    EXPECT_GT(pid, 0);
    if (pid <= 0) return result;
    result.out = ReadAll(out_fd);
    ::close(out_fd);
    result.exit_code = Wait(pid);
    std::ifstream err(err_path, std::ios::binary);
    result.err.assign(std::istreambuf_iterator<char>(err), {});
    return result;
  }

  fs::path dir_;
  std::string tool_ = FVX_TOOL;
  std::string registry_path_;
};

const std::string kSample = std::string(FVX_SOURCE_DIR) + "/examples/solar_system.txt";

TEST_F(CompileCommandTest, SampleBookChecksAndCompilesWithoutAnyProblem) {
  std::string book = (dir_ / "solar_system.fvx").string();
  std::string log = (dir_ / "log.txt").string();
  Result check = Run({"compile", "--check", kSample, "-o", book, "--log=" + log});
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_EQ(check.Problems(), std::vector<std::string>{});
  EXPECT_TRUE(check.Has("Source checked: no book was written."));
  EXPECT_EQ(check.Last(), "0 error(s), 0 warning(s)");
  EXPECT_FALSE(fs::exists(book));
  // Every printed line is the log file's line.
  std::ifstream log_in(log, std::ios::binary);
  std::string logged((std::istreambuf_iterator<char>(log_in)), {});
  EXPECT_EQ(logged, check.out);

  std::vector<std::string> args = {"compile", kSample, "-o", book, "--no-log"};
#if !FVX_TOOL_HAS_PICTURES
  args.push_back("--skip-pictures");  // no image library in this build
#endif
  Result full = Run(args);
  EXPECT_EQ(full.exit_code, 0) << full.out << full.err;
  EXPECT_EQ(full.Problems(), std::vector<std::string>{});
  EXPECT_TRUE(full.Has("Number of subjects : 46"));
  EXPECT_TRUE(full.Has("Number of author defined filters : 3"));
#if FVX_TOOL_HAS_PICTURES
  EXPECT_TRUE(full.Has("Number of pictures in the file : 15"));
#endif
  EXPECT_TRUE(full.Has("Compilation successfully completed."));
  EXPECT_EQ(full.Last(), "0 error(s), 0 warning(s)");
  EXPECT_TRUE(fs::exists(book));
  Result verify = Run({"verify", book});
  EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;
}

// fvx opens the image library (libfvx_imaging.so beside it) only for a book
// with pictures; a copy of fvx without it compiles on and says of every
// picture that it cannot be processed.
TEST_F(CompileCommandTest, WithoutTheImageLibraryEveryPictureIsUnprocessable) {
  fs::copy_file(std::string(FVX_SOURCE_DIR) + "/examples/pictures/earth.png", dir_ / "earth.png");
  const std::string source = Write("pictured.txt", "<new>Earth\nBlue <img src=\"earth.png\">\n");
  const std::string book = (dir_ / "pictured.fvx").string();
  const std::string unprocessable =
      "[  Error  ] Line 2 : Col 7 : Can't process picture file \"" + (dir_ / "earth.png").string() +
      "\"";

  fs::create_directories(dir_ / "alone");
  const fs::path alone = dir_ / "alone" / "fvx";
  fs::copy_file(FVX_TOOL, alone);
  tool_ = alone.string();
  Result without = Run({"compile", source, "-o", book, "--no-log"});
  EXPECT_EQ(without.exit_code, 0) << without.out << without.err;
  EXPECT_EQ(without.Problems(), std::vector<std::string>{unprocessable});
  EXPECT_EQ(without.out.find("Number of pictures in the file"), std::string::npos) << without.out;

  tool_ = FVX_TOOL;
  Result with = Run({"compile", source, "-o", book, "--no-log"});
  EXPECT_EQ(with.exit_code, 0) << with.out << with.err;
#if FVX_TOOL_HAS_PICTURES
  EXPECT_EQ(with.Problems(), std::vector<std::string>{});
  EXPECT_TRUE(with.Has("Number of pictures in the file : 1")) << with.out;
#else
  EXPECT_EQ(with.Problems(), std::vector<std::string>{unprocessable});
#endif
}

TEST_F(CompileCommandTest, ExitCodesTellUsageErrorsFromFailedCompiles) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"compile"},
           {"compile", "--sort=maybe", "a.txt"},
           {"compile", "--segmentation=many", "a.txt"},
           {"compile", "--frobnicate", "a.txt"},
           {"compile", "a.txt", "b.txt"},
           {"compile", "a.txt", "-o"},
           {"compile", "a.txt", "--log=x", "--no-log"}}) {
    Result r = Run(args);
    EXPECT_EQ(r.exit_code, 2) << args.back();
    EXPECT_NE(r.err.find("usage: fvx compile"), std::string::npos) << args.back();
  }
  Result doc = Run({"compile", (dir_ / "notes.doc").string()});
  EXPECT_EQ(doc.exit_code, 2);
  EXPECT_EQ(doc.out, "Bad file format!\n");

  std::string missing = (dir_ / "missing.txt").string();
  Result absent = Run({"compile", "--no-log", missing});
  EXPECT_EQ(absent.exit_code, 1);
  EXPECT_TRUE(absent.Has("[  Fatal Error  ] Failed to open input file \"" + missing + "\" "));
  EXPECT_TRUE(absent.Has("[  Fatal Error  ] Errors occurred while compiling!"));
  EXPECT_EQ(absent.Last(), "2 error(s), 0 warning(s)");

  // An upper-case extension is a source like any other.
  std::string fatal =
      Write("BROKEN.TXT", "<catdef> name = A </catdef>\n<catdef> name = A </catdef>\n<new>S\n");
  Result broken = Run({"compile", "--no-log", fatal});
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_TRUE(broken.Has("[  Fatal Error  ] Line 2 : Col 17 : Category redefinition \"A\""))
      << broken.out;
  EXPECT_FALSE(fs::exists(dir_ / "BROKEN.fvx"));

  // Error-level messages do not stop a compile: the book is written.
  std::string errors = Write("errors.txt", "<new>S\n<catset> Kind = x </catset>\n");
  Result written = Run({"compile", "--no-log", errors});
  EXPECT_EQ(written.exit_code, 0) << written.out;
  EXPECT_TRUE(written.Has("[  Error  ] Line 2 : Col 10 : Undefined category \"Kind\"")) << written.out;
  EXPECT_TRUE(written.Has("[ Warning ] Line 2 : Col 17 : Value \"x\" is ignored.")) << written.out;
  EXPECT_EQ(written.Last(), "1 error(s), 1 warning(s)");
  EXPECT_TRUE(fs::exists(dir_ / "errors.fvx"));

  // --check: warnings pass, errors fail, and no book either way.
  std::string warned = Write("warned.txt", "<new>S\n< b\n");
  Result lint = Run({"compile", "--check", "--no-log", warned});
  EXPECT_EQ(lint.exit_code, 0);
  EXPECT_EQ(lint.Problems(), std::vector<std::string>{
                                 "[ Warning ] Line 2 : Col 2 : Malformed tag syntax. Treated as "
                                 "raw text."});
  // ... but they fail a check, which is there to find them.
  Result lint_error = Run({"compile", "--check", "--no-log", errors});
  EXPECT_EQ(lint_error.exit_code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "warned.fvx"));
}

TEST_F(CompileCommandTest, GccDiagnosticsNameTheSourceLineAndColumn) {
  std::string source = Write("diag.txt", "<new>S\n< b\n<new>T\n<catset> Kind = 1 </catset>\n");
  Result r = Run({"compile", "--check", "--no-log", "--diagnostics=gcc", source});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.Has(source + ":2:2: warning: Malformed tag syntax. Treated as raw text.")) << r.out;
  EXPECT_TRUE(r.Has(source + ":4:10: error: Undefined category \"Kind\"")) << r.out;
  EXPECT_TRUE(r.Has(source + ":4:17: warning: Value \"1\" is ignored.")) << r.out;
  EXPECT_TRUE(r.Has("Parsing input file... "));  // information stays as it is
  EXPECT_EQ(r.Last(), "1 error(s), 2 warning(s)");

  std::string fatal = Write("fatal.txt", "stray text\n");
  Result f = Run({"compile", "--no-log", "--diagnostics=gcc", fatal});
  EXPECT_TRUE(f.Has(fatal + ":1:1: fatal error: Unexpected token \"stray\"")) << f.out;
  EXPECT_TRUE(f.Has(fatal + ": fatal error: Errors occurred while compiling!")) << f.out;
}

TEST_F(CompileCommandTest, OptionsComeFromTheRegistryAndFlagsOverrideThem) {
  const auto kRoot = RegistryRoot::kLocalMachine;
  // Forty subjects in reverse order, enough for a segmentation of 16.
  std::string text;
  for (int i = 40; i > 0; --i) text += "<new>Subject " + std::to_string(100 + i) + "\ntext\n";
  std::string source = Write("order.txt", text);
  std::string book = (dir_ / "order.fvx").string();

  // A fresh registry: every number is stored with its default, the source
  // is remembered, and the log goes beside the source.
  Result first = Run({"compile", source});
  EXPECT_EQ(first.exit_code, 0) << first.out;
  {
    Registry registry(registry_path_);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "ProduceLog"), 1u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "FixedLogPath"), 0u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "SkipPictures"), 0u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "FixedSegmentation"), 0u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "SegmentationSize"), 1024u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "SortType"), 3u);
    EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "DisableWarnings"), 0u);
    EXPECT_EQ(registry.ReadString(kRoot, kOptionsKey, "LastImportFile"), source);
  }
  EXPECT_TRUE(fs::exists(dir_ / "log_order.txt"));
  // "Ask" with fewer than 101 subjects does not ask and leaves the order.
  EXPECT_FALSE(first.Has("Automatic sorting has been enabled by the user. "));

  {
    Registry registry(registry_path_);
    registry.WriteDword(kRoot, kOptionsKey, "SortType", 2);
    registry.WriteDword(kRoot, kOptionsKey, "FixedSegmentation", 1);
    registry.WriteDword(kRoot, kOptionsKey, "SegmentationSize", 5);
    registry.WriteDword(kRoot, kOptionsKey, "DisableWarnings", 1);
    registry.WriteDword(kRoot, kOptionsKey, "FixedLogPath", 1);
    registry.WriteString(kRoot, kOptionsKey, "LogPath", (dir_ / "logs").string() + "/");
  }
  fs::remove(dir_ / "log_order.txt");
  Result stored = Run({"compile", source, "-o", book});
  EXPECT_EQ(stored.exit_code, 0) << stored.out;
  EXPECT_TRUE(stored.Has("Automatic sorting has been enabled by the user. "));
  EXPECT_TRUE(stored.Has("Search acceleration segmentation : 16")) << stored.out;
  // The sort-test warning is counted but not shown.
  EXPECT_EQ(stored.Problems(), std::vector<std::string>{});
  EXPECT_EQ(stored.Last(), "0 error(s), 1 warning(s)");
  EXPECT_TRUE(fs::exists(dir_ / "logs" / "log_order.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "log_order.txt"));

  Result flags = Run({"compile", source, "-o", book, "--sort=no", "--segmentation=3",
                      "--log=" + (dir_ / "flag.log").string()});
  EXPECT_EQ(flags.exit_code, 0) << flags.out;
  EXPECT_FALSE(flags.Has("Automatic sorting has been enabled by the user. "));
  EXPECT_TRUE(flags.Has("Search acceleration segmentation : 16")) << flags.out;
  EXPECT_TRUE(fs::exists(dir_ / "flag.log"));
  // Flags are not stored.
  Registry registry(registry_path_);
  EXPECT_EQ(registry.QueryDword(kRoot, kOptionsKey, "SortType"), 2u);
}

// Ctrl-C in the middle of the parse: the source is a pipe, so the test
// decides when the compiler sees the rest of it. A kill (SIGTERM) and a
// closed terminal (SIGHUP) stop it the same way, leaving no file behind.
class StopSignalTest : public CompileCommandTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, CancelsLikeTheStopButton) {
  std::string fifo = (dir_ / "slow.txt").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string book = (dir_ / "slow.fvx").string();
  std::string err_path = (dir_ / "stderr.txt").string();
  int out_fd = -1;
  pid_t pid = Start({"compile", "--no-log", fifo, "-o", book}, out_fd, err_path);
  ASSERT_GT(pid, 0);
  int source = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(source, 0);
  std::string start = "<new>First\nSome text.\n";
  ASSERT_EQ(::write(source, start.data(), start.size()), static_cast<ssize_t>(start.size()));

  // Wait until the parse has begun on the first subject.
  std::string out;
  char buffer[512];
  while (out.find("Compiling subjects... \n") == std::string::npos) {
    ssize_t n = ::read(out_fd, buffer, sizeof buffer);
    ASSERT_GT(n, 0) << out;
    out.append(buffer, static_cast<size_t>(n));
  }
  ASSERT_EQ(::kill(pid, GetParam()), 0);
  // More than the characters between two pumps, so the compiler notices.
  std::string rest = std::string(20000, 'x') + "\n<new>Second\nmore\n";
  ::signal(SIGPIPE, SIG_IGN);
  (void)::write(source, rest.data(), rest.size());
  ::close(source);
  out += ReadAll(out_fd);
  ::close(out_fd);
  int exit_code = Wait(pid);

  EXPECT_EQ(exit_code, 1) << out;
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "[  Fatal Error  ] Tool execution canceled by the user.");
  EXPECT_EQ(lines.back(), "1 error(s), 0 warning(s)");
  EXPECT_EQ(out.find("Errors occurred while compiling!"), std::string::npos);
  EXPECT_FALSE(fs::exists(book));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

// A pipe as the source with no writer yet: Ctrl-C ends the wait.
TEST_F(CompileCommandTest, InterruptEndsTheWaitForASourcePipe) {
  std::string fifo = (dir_ / "idle.txt").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string err_path = (dir_ / "stderr.txt").string();
  int out_fd = -1;
  pid_t pid = Start({"compile", "--no-log", fifo}, out_fd, err_path);
  ASSERT_GT(pid, 0);
  // Non-blocking from here on: a compile stuck before its first line must
  // not hang the test.
  ::fcntl(out_fd, F_SETFL, O_NONBLOCK);
  std::string out;
  char buffer[512];
  for (int i = 0; i < 200 && out.find("Parsing input file... \n") == std::string::npos; ++i) {
    ssize_t n = ::read(out_fd, buffer, sizeof buffer);
    if (n > 0) out.append(buffer, static_cast<size_t>(n));
    if (n <= 0) ::usleep(50000);
  }
  ::usleep(200000);  // into the wait
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  const int exit_code = WaitAtMost(pid, 10);
  ::fcntl(out_fd, F_SETFL, 0);
  out += ReadAll(out_fd);
  ::close(out_fd);
  EXPECT_EQ(exit_code, 1) << out;
  EXPECT_NE(out.find("[  Fatal Error  ] Tool execution canceled by the user.\n"), std::string::npos)
      << out;
}

// The source as its own output would be replaced by the book; a folder as
// the source used to compile to an empty book.
TEST_F(CompileCommandTest, NeitherTheSourceNorAFolderIsTakenForWhatItIsNot) {
  const std::string text = "<new>Alpha\nSome text.\n";
  std::string source = Write("self.txt", text);
  Result self = Run({"compile", "--no-log", source, "-o", source});
  EXPECT_EQ(self.exit_code, 1) << self.out;
  EXPECT_TRUE(self.Has("[  Fatal Error  ] The output file \"" + source +
                       "\" is the source file itself. Choose another output file."))
      << self.out;
  std::ifstream in(source, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);

  const std::string folder = (dir_ / "folder.txt").string();
  fs::create_directory(folder);
  Result dir = Run({"compile", "--no-log", folder});
  EXPECT_EQ(dir.exit_code, 1) << dir.out;
  EXPECT_TRUE(dir.Has("[  Fatal Error  ] Failed to open input file \"" + folder + "\" "))
      << dir.out;
  EXPECT_TRUE(dir.Has("     Reason: Is a directory")) << dir.out;
  EXPECT_FALSE(fs::exists(dir_ / "folder.fvx"));
}

// A FIFO named as a picture or cover is refused at once instead of hanging.
TEST_F(CompileCommandTest, AFifoAsAPictureIsRefusedWithoutWaiting) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.png").c_str(), 0600), 0);
  std::string source = Write("fifo_picture.txt",
                             "<meta> frontcover = \"pipe.png\" </meta>\n"
                             "<new>Alpha\n<img src=\"pipe.png\">\n");
  std::string err_path = (dir_ / "stderr.txt").string();
  int out_fd = -1;
  pid_t pid = Start({"compile", "--no-log", source}, out_fd, err_path);
  ASSERT_GT(pid, 0);
  ::fcntl(out_fd, F_SETFL, O_NONBLOCK);
  const int exit_code = WaitAtMost(pid, 20);
  ::fcntl(out_fd, F_SETFL, 0);
  const std::string out = ReadAll(out_fd);
  ::close(out_fd);
  ASSERT_NE(exit_code, -1) << "the compile hung on the FIFO: " << out;
  EXPECT_EQ(exit_code, 0) << out;
  EXPECT_NE(out.find("Can't open picture file \"" + (dir_ / "pipe.png").string() + "\""),
            std::string::npos)
      << out;
}

// Past the file-size limit (ulimit -f) the compile ends with a message
// rather than dying of SIGXFSZ.
TEST_F(CompileCommandTest, TheFileSizeLimitEndsTheCompileWithAMessage) {
  std::string text;
  uint32_t seed = 7;
  for (int i = 0; i < 400; ++i) {
    text += "<new>Subject " + std::to_string(i) + "\n";
    for (int w = 0; w < 60; ++w) {
      seed = seed * 1103515245u + 12345u;
      text += "w" + std::to_string(seed % 100000) + " ";
    }
    text += "\n";
  }
  std::string source = Write("big.txt", text);
  Result r = Run({"compile", "--no-log", source}, 64 * 1024);
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("The file size limit of this process (ulimit -f) was reached while "
                       "writing."),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(dir_ / "big.fvx"));
}

}  // namespace

TEST_F(CompileCommandTest, VerifyAndInfoTellASoundBookFromADamagedOne) {
  std::string source = Write("book.txt",
                             "<new>Alpha\nThe first subject, long enough to fill a block.\n"
                             "<new>Beta\nThe second subject links to <a href=\"Alpha\">Alpha</a>.\n");
  std::string book = (dir_ / "book.fvx").string();
  ASSERT_EQ(Run({"compile", "--no-log", source, "-o", book}).exit_code, 0);
  Result sound = Run({"verify", book});
  EXPECT_EQ(sound.exit_code, 0) << sound.out << sound.err;
  Result info = Run({"info", book});
  EXPECT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("book id"), std::string::npos) << info.out;

  // One flipped byte in the middle of the book: the digest no longer matches.
  std::fstream file(book, std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(0, std::ios::end);
  const std::streamoff middle = file.tellg() / 2;
  file.seekg(middle);
  char byte = 0;
  file.read(&byte, 1);
  byte = static_cast<char>(byte ^ 0x5A);
  file.seekp(middle);
  file.write(&byte, 1);
  file.close();
  Result damaged = Run({"verify", book});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE((damaged.out + damaged.err).find("damaged"), std::string::npos)
      << damaged.out << damaged.err;

  Result missing = Run({"verify", (dir_ / "absent.fvx").string()});
  EXPECT_NE(missing.exit_code, 0);
}

TEST_F(CompileCommandTest, LinkReportIsWrittenOnlyWhenAskedFor) {
  std::string source = Write("links.txt",
                             "<new>Alpha\nFirst.\n"
                             "<new>Beta\nTo <a href=\"Alpha\">Alpha</a> and <a href=\"Gone\">x</a>.\n");
  std::string report = (dir_ / "links.html").string();
  Result plain = Run({"compile", "--no-log", source});
  ASSERT_EQ(plain.exit_code, 0) << plain.out << plain.err;
  EXPECT_FALSE(fs::exists(report));

  Result asked = Run({"compile", "--no-log", source, "--link-report=" + report});
  ASSERT_EQ(asked.exit_code, 0) << asked.out << asked.err;
  std::ifstream in(report);
  std::string page((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(page.find("&quot;Gone&quot;"), std::string::npos) << page;
  EXPECT_NE(page.find("<h3 id=s0>Alpha"), std::string::npos) << page;

  EXPECT_EQ(Run({"compile", "--check", source, "--link-report=" + report}).exit_code, 2);
  Result unwritable = Run({"compile", "--no-log", source, "--link-report=" + (dir_ / "no/such/dir/r.html").string()});
  EXPECT_EQ(unwritable.exit_code, 1);
  EXPECT_NE(unwritable.err.find("link report"), std::string::npos);
}

// Older-generation books: packed from a folder, compiled by their extension.
TEST_F(CompileCommandTest, PackedFvBooksCompileAndDamagedOnesFailToOpen) {
  fs::create_directories(dir_ / "records");
  std::ofstream(dir_ / "records" / "02_beta", std::ios::binary) << "Beta\nsecond\t\x15" "2\t\x16";
  std::ofstream(dir_ / "records" / "01_alpha", std::ios::binary) << "Alpha\r\nfirst \t\x01" "bold\t\x02";
  std::ofstream(dir_ / "records" / ".hidden", std::ios::binary) << "Not a record\n";
  fs::create_directories(dir_ / "records" / "sub");
  const std::string folder = (dir_ / "records").string();
  for (bool compress : {false, true}) {
    const std::string fv = (dir_ / (compress ? "Packed.FV" : "plain.fv")).string();
    std::vector<std::string> pack = {"fv-pack", folder, "-o", fv};
    if (compress) pack.push_back("--compress");
    Result packed = Run(pack);
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
    EXPECT_NE(packed.out.find("2 records"), std::string::npos) << packed.out;
    const std::string book = fv.substr(0, fv.size() - 3) + ".fvx";
    Result compiled = Run({"compile", "--no-log", fv});
    ASSERT_EQ(compiled.exit_code, 0) << compiled.out;
    EXPECT_EQ(compiled.Problems(), std::vector<std::string>{}) << compiled.out;
    EXPECT_EQ(Run({"headings", book}).out, "0\tAlpha\n1\tBeta\n");
    EXPECT_EQ(Run({"verify", book}).exit_code, 0);
  }
  // A cut file is refused as it opens.
  std::ifstream whole(dir_ / "plain.fv", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(whole)), {});
  const std::string cut = Write("cut.fv", bytes.substr(0, bytes.size() - 1));
  Result refused = Run({"compile", "--no-log", cut});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_TRUE(refused.Has("[  Fatal Error  ] Failed to open input file \"" + cut + "\" ")) << refused.out;
  EXPECT_FALSE(fs::exists(dir_ / "cut.fvx"));
  EXPECT_NE(refused.err.find("cut.fv: the book should have"), std::string::npos) << refused.err;
  // A book written into its own folder is no record of the next one.
  const std::string inside = (dir_ / "records" / "inside.fv").string();
  ASSERT_EQ(Run({"fv-pack", folder, "-o", inside}).exit_code, 0);
  EXPECT_NE(Run({"fv-pack", folder, "-o", inside}).out.find("2 records"), std::string::npos);
  // Packing needs a folder with records and an output.
  fs::create_directories(dir_ / "empty");
  EXPECT_EQ(Run({"fv-pack", (dir_ / "empty").string(), "-o", cut}).exit_code, 1);
  EXPECT_EQ(Run({"fv-pack", folder}).exit_code, 2);
}
