// Queuing books for a Palm handheld over a temporary folder of HotSync users.
#include "library/install_on_palm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "library/folder_install_aide.h"
#include "platform/testing/file_contents.h"

namespace fvx::library {
namespace {

using fvx::platform::testing::ReadWholeFile;
using fvx::platform::testing::WriteWholeFile;

namespace fs = std::filesystem;

// Remembers the buffer sizes the user names are asked with.
class RecordingAide : public FolderInstallAide {
 public:
  using FolderInstallAide::FolderInstallAide;
  int32_t UserName(int32_t index, char* buffer, uint16_t* size) override {
    sizes.push_back(*size);
    return FolderInstallAide::UserName(index, buffer, size);
  }
  std::vector<uint16_t> sizes;
};

class InstallOnPalmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_palm_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    users_ = dir_ / "users";
    staging_ = dir_ / "Temp";
    fs::create_directories(users_ / "Alice");
    fs::create_directories(staging_);
    book_ = dir_ / "Books" / "Atlas.FVX";
    WriteWholeFile(book_, "book bytes");
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  fs::path users_;
  fs::path staging_;
  fs::path book_;
};

TEST_F(InstallOnPalmTest, QueuesTheBookAsPdbAndRemovesTheStagedCopy) {
  FolderInstallAide aide(users_.string());
  ASSERT_TRUE(InstallOnPalm(aide, book_.string(), "Alice", false, staging_.string()));
  EXPECT_EQ(ReadWholeFile(users_ / "Alice" / "Install" / "Atlas.pdb"), "book bytes");
  EXPECT_TRUE(fs::is_empty(staging_));
  EXPECT_TRUE(fs::exists(book_));
  // Queued again before a HotSync: the waiting copy is replaced (-512).
  WriteWholeFile(book_, "newer bytes");
  EXPECT_EQ(aide.QueueForHandheld("Alice", book_.string()), kAideOk);  // as Atlas.FVX
  ASSERT_TRUE(InstallOnPalm(aide, book_.string(), "Alice", false, staging_.string()));
  EXPECT_EQ(ReadWholeFile(users_ / "Alice" / "Install" / "Atlas.pdb"), "newer bytes");
  EXPECT_EQ(fs::file_size(users_ / "Alice" / "Install" / "Atlas.FVX"), 11u);
}

TEST_F(InstallOnPalmTest, CardWantedGoesToTheFirstSlotOrElseTheHandheld) {
  FolderInstallAide aide(users_.string());
  ASSERT_TRUE(InstallOnPalm(aide, book_.string(), "Alice", true, staging_.string()));
  EXPECT_TRUE(fs::exists(users_ / "Alice" / "Install" / "Atlas.pdb"));

  WriteWholeFile(users_ / "Bob" / kPalmSlotsFile, "# slots\n0x10 SD card\n\n7\nbad line\n");
  uint32_t id = 0;
  ASSERT_EQ(aide.UserId("Bob", &id), kAideOk);
  uint16_t count = 0;
  ASSERT_EQ(aide.SlotCount(id, &count), kAideOk);
  EXPECT_EQ(count, 2);
  ASSERT_TRUE(InstallOnPalm(aide, book_.string(), "Bob", true, staging_.string()));
  EXPECT_TRUE(fs::exists(users_ / "Bob" / "CardInstall" / "16" / "Atlas.pdb"));
  EXPECT_FALSE(fs::exists(users_ / "Bob" / "Install"));
  EXPECT_EQ(aide.QueueForCard("Bob", 8, book_.string()), kAideNoSuchSlot);
}

TEST_F(InstallOnPalmTest, LongUserNamesAreReadWithASecondBuffer) {
  const std::string long_name(60, 'L');
  fs::create_directories(users_ / long_name);
  fs::create_directories(users_ / ".hidden");
  RecordingAide aide(users_.string());
  EXPECT_EQ(HotSyncUserNames(aide), (std::vector<std::string>{"Alice", long_name}));
  EXPECT_EQ(aide.sizes, (std::vector<uint16_t>{50, 50, 61}));
  EXPECT_TRUE(InstallOnPalm(aide, book_.string(), long_name, false, staging_.string()));

  FolderInstallAide nobody((dir_ / "no users").string());
  EXPECT_TRUE(HotSyncUserNames(nobody).empty());
  EXPECT_FALSE(InstallOnPalm(nobody, book_.string(), "", false, staging_.string()));
}

TEST_F(InstallOnPalmTest, RefusedBooksAndUsers) {
  FolderInstallAide aide(users_.string());
  WriteWholeFile(dir_ / "Books" / "Atlas.txt", "text");
  WriteWholeFile(dir_ / "Books" / "Atlas", "text");
  EXPECT_FALSE(InstallOnPalm(aide, (dir_ / "Books" / "Atlas.txt").string(), "Alice", false,
                             staging_.string()));
  EXPECT_FALSE(
      InstallOnPalm(aide, (dir_ / "Books" / "Atlas").string(), "Alice", false, staging_.string()));
  EXPECT_FALSE(InstallOnPalm(aide, (dir_ / "Books.fvx" / "Atlas").string(), "Alice", false,
                             staging_.string()));
  EXPECT_FALSE(InstallOnPalm(aide, (dir_ / "Books" / "Missing.fvx").string(), "Alice", false,
                             staging_.string()));
  EXPECT_FALSE(InstallOnPalm(aide, book_.string(), "Carol", false, staging_.string()));
  EXPECT_FALSE(InstallOnPalm(aide, book_.string(), "../users/Alice", false, staging_.string()));
  EXPECT_FALSE(fs::exists(users_ / "Alice" / "Install"));
  EXPECT_TRUE(fs::is_empty(staging_));

  // Staged beside the book when there is no temporary folder, but never over
  // a file of the user's.
  WriteWholeFile(dir_ / "Books" / "Atlas.pdb", "the user's own");
  EXPECT_FALSE(InstallOnPalm(aide, book_.string(), "Alice", false, ""));
  EXPECT_EQ(ReadWholeFile(dir_ / "Books" / "Atlas.pdb"), "the user's own");
  fs::remove(dir_ / "Books" / "Atlas.pdb");
  EXPECT_TRUE(InstallOnPalm(aide, book_.string(), "Alice", false, ""));
  EXPECT_FALSE(fs::exists(dir_ / "Books" / "Atlas.pdb"));
}

}  // namespace
}  // namespace fvx::library
