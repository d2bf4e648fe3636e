#include "platform/replacing_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fvx::platform {
namespace {

namespace fs = std::filesystem;

class ReplacingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_replacing_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    target_ = (dir_ / "book.fvx").string();
    std::ofstream(target_, std::ios::binary) << "old";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  }
  std::string Content() const {
    std::ifstream in(target_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string target_;
};

TEST_F(ReplacingFileTest, TheTargetChangesOnlyOnCommit) {
  int error = -1;
  ReplacingFile file = ReplacingFile::Create(target_, &error);
  ASSERT_TRUE(file.IsOpen()) << error;
  EXPECT_TRUE(file.IsUnnamed()) << "this file system has unnamed files";
  ASSERT_TRUE(file.file().Write("new content", 11));
  EXPECT_EQ(Content(), "old");
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});
  ASSERT_TRUE(file.Commit(&error)) << error;
  EXPECT_EQ(Content(), "new content");
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});
  struct stat st {};
  ASSERT_EQ(::stat(target_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~FileCreationMask());

  ReplacingFile dropped = ReplacingFile::Create(target_, &error);
  ASSERT_TRUE(dropped.file().Write("x", 1));
  dropped.Discard();
  EXPECT_EQ(Content(), "new content");
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});
}

// Without unnamed files the content has a hidden name until it is committed
// or dropped.
TEST_F(ReplacingFileTest, TheNamedFallbackReplacesTheTargetToo) {
  int error = -1;
  ReplacingFile file = ReplacingFile::Create(target_, &error, /*allow_unnamed=*/false);
  ASSERT_TRUE(file.IsOpen()) << error;
  EXPECT_FALSE(file.IsUnnamed());
  ASSERT_TRUE(file.file().Write("fallback", 8));
  EXPECT_EQ(Names().size(), 2u);
  EXPECT_EQ(Content(), "old");
  ASSERT_TRUE(file.Commit(&error)) << error;
  EXPECT_EQ(Content(), "fallback");
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});

  ReplacingFile dropped = ReplacingFile::Create(target_, &error, /*allow_unnamed=*/false);
  ASSERT_TRUE(dropped.IsOpen());
  dropped.Discard();
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});
}

// A process killed while writing leaves nothing beside the target.
TEST_F(ReplacingFileTest, AKilledWriterLeavesNothingBehind) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int error = 0;
    ReplacingFile file = ReplacingFile::Create(target_, &error);
    std::string block(1 << 20, 'b');
    if (file.IsOpen()) (void)file.file().Write(block.data(), block.size());
    ::raise(SIGKILL);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Names(), std::set<std::string>{"book.fvx"});
  EXPECT_EQ(Content(), "old");
}

TEST_F(ReplacingFileTest, AMissingFolderIsReported) {
  int error = 0;
  ReplacingFile file = ReplacingFile::Create((dir_ / "absent" / "book.fvx").string(), &error);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(file.Commit(&error));
}

}  // namespace
}  // namespace fvx::platform
