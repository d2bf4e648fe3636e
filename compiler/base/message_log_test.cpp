#include "compiler/base/message_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "compiler/base/compile_context.h"
#include "compiler/base/test_sinks.h"

namespace fvx::compiler {
namespace {

TEST(LogFilePathTest, BesideTheSourceOrInTheLogDirectory) {
  EXPECT_EQ(LogFilePath("/books/atlas.txt", ""), "/books/log_atlas.txt");
  EXPECT_EQ(LogFilePath("C:\\books\\atlas.fv", ""), "C:\\books\\log_atlas.txt");
  EXPECT_EQ(LogFilePath("atlas.txt", ""), "log_atlas.txt");
  EXPECT_EQ(LogFilePath("/a.b/atlas", ""), "/a.b/log_atlas.txt");
  std::string dir = ::testing::TempDir() + "fvx_logs_" + std::to_string(::getpid());
  EXPECT_EQ(LogFilePath("/books/atlas.txt", dir + "//"), dir + "/log_atlas.txt");
  EXPECT_EQ(::access(dir.c_str(), F_OK), 0);  // created
  ::rmdir(dir.c_str());
}

TEST(LogFileTest, DisabledWarningsAreCountedButNotLogged) {
  std::string path = ::testing::TempDir() + "fvx_log_test_" + std::to_string(::getpid()) + ".txt";
  LogFile log;
  ASSERT_TRUE(log.Open(path));
  RecordingMessageSink screen;
  LoggingMessageSink sink(&screen, &log, /*disable_warnings=*/true);
  CompileContext context(&sink, nullptr, nullptr);
  context.SetPosition(2, 1);
  for (int i = 0; i < 3; ++i) context.Report(true, Level::kWarning, MessageId::kMalformedTag);
  context.Report(false, Level::kError, MessageId::kEmptyCategoryValue);
  context.Report(false, Level::kInformation, MessageId::kTally, "%d:%d",
                 {context.errors(), context.warnings()});
  log.Close();
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(),
            "[  Error  ] Empty category value. Ignored.\n"
            "1 error(s), 3 warning(s)\n");
  EXPECT_EQ(screen.lines.size(), 2u);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace fvx::compiler
