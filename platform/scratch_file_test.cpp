#include "platform/scratch_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace fvx::platform {
namespace {

int CountEntries(const std::string& folder) {
  int count = 0;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return -1;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  closedir(dir);
  return count;
}

class ScratchFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fvx_scratch_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { rmdir(folder_.c_str()); }
  std::string folder_;
};

TEST_F(ScratchFileTest, LeavesNoNameBehind) {
  File file = CreateScratchFileIn(folder_, "fvx");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(CountEntries(folder_), 0) << "the file is unlinked as soon as it is made";
  ASSERT_TRUE(file.Write("data", 4));
  char buffer[4];
  ASSERT_TRUE(file.ReadAt(0, buffer, 4));
  EXPECT_EQ(std::string(buffer, 4), "data");
}

TEST_F(ScratchFileTest, EachFileIsNew) {
  File a = CreateScratchFileIn(folder_);
  File b = CreateScratchFileIn(folder_);
  ASSERT_TRUE(a.Write("a", 1));
  EXPECT_EQ(b.Size().value(), 0u);
}

TEST_F(ScratchFileTest, TmpdirIsACandidateAndFirst) {
  const char* old = getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", folder_.c_str(), 1);
  std::vector<std::string> candidates = TemporaryFolderCandidates();
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0], folder_);
  EXPECT_EQ(candidates[1], "/tmp");
  EXPECT_EQ(candidates[2], "/var/tmp");
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}

TEST_F(ScratchFileTest, AnUnusableFolderGivesNoFile) {
  EXPECT_FALSE(CreateScratchFileIn("/nonexistent/folder").IsOpen());
  EXPECT_FALSE(CreateScratchFileIn("").IsOpen());
}

TEST_F(ScratchFileTest, TheChosenFolderIsOneOfTheCandidates) {
  std::string chosen = TemporaryFolderWithMostSpace();
  std::vector<std::string> candidates = TemporaryFolderCandidates();
  EXPECT_NE(std::find(candidates.begin(), candidates.end(), chosen), candidates.end());
  EXPECT_TRUE(CreateScratchFile().IsOpen());
}

}  // namespace
}  // namespace fvx::platform
