// `fvx send` as scripts run it: the real program, a device folder and a
// folder of HotSync users.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/testing/command_output.h"
#include "platform/testing/file_contents.h"

namespace {

using fvx::platform::testing::ReadWholeFile;
using fvx::platform::testing::WriteWholeFile;

namespace fs = std::filesystem;

class SendCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_send_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    book_ = dir_ / "Atlas.fvx";
    WriteWholeFile(book_, std::string(10000, 'b'));
  }
  void TearDown() override { fs::remove_all(dir_); }

  struct Result {
    int exit_code = -1;
    std::string out;
    std::string err;
  };

  Result Fvx(const std::vector<std::string>& args) {
    std::string command = FVX_TOOL;
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " 2> '" + (dir_ / "err.txt").string() + "' < /dev/null";
    fvx::platform::testing::CommandOutput run = fvx::platform::testing::RunCommandLine(command);
    return {run.status, run.out, ReadWholeFile(dir_ / "err.txt")};
  }

  fs::path dir_;
  fs::path book_;
};

TEST_F(SendCommandTest, ToADeviceFolderAndItsCard) {
  const fs::path device = dir_ / "device";
  fs::create_directories(device);
  Result plain = Fvx({"send", book_.string(), "--device", device.string()});
  EXPECT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(plain.out,
            "Your file is successfully transferred to Pocket PC.\n\nPlease open Folivox3 Pocket "
            "PC version\nin order to view the file.\n");
  EXPECT_EQ(fs::file_size(device / "My Documents" / "Atlas.fvx"), 10000u);

  // No card: said, and the book goes to main memory all the same.
  Result no_card = Fvx({"send", book_.string(), "--device", device.string(), "--card"});
  EXPECT_EQ(no_card.exit_code, 0);
  EXPECT_NE(no_card.err.find("Failed to retrieve storage card details."), std::string::npos);

  WriteWholeFile(device / "SD Card" / ".fvx-storage-card", "");
  Result card = Fvx({"send", book_.string(), "--device", device.string(), "--card"});
  EXPECT_EQ(card.exit_code, 0) << card.err;
  EXPECT_EQ(card.err, "");
  EXPECT_TRUE(fs::exists(device / "SD Card" / "My Documents" / "Atlas.fvx"));

  // The book on the device is read-only (open on the handheld): failure.
  fs::permissions(device / "My Documents" / "Atlas.fvx", fs::perms::owner_read);
  Result locked = Fvx({"send", book_.string(), "--device", device.string()});
  EXPECT_EQ(locked.exit_code, 1);
  EXPECT_EQ(locked.out, "");
  EXPECT_EQ(locked.err.rfind("Failed to transfer the file.\n\nYou must properly connect", 0), 0u)
      << locked.err;

  EXPECT_EQ(Fvx({"send", book_.string()}).exit_code, 2);
  EXPECT_EQ(Fvx({"send", book_.string(), "--device", "d", "--user", "u"}).exit_code, 2);
}

TEST_F(SendCommandTest, ToAPalmUsersQueue) {
  const fs::path users = dir_ / "users";
  fs::create_directories(users / "Alice Smith");
  Result queued = Fvx({"send", book_.string(), "--palm", users.string(), "--user", "Alice Smith"});
  EXPECT_EQ(queued.exit_code, 0) << queued.err;
  EXPECT_EQ(queued.out,
            "File is scheduled to install\n\nNext time you perform a HotSync operation,\nthis "
            "file will be installed on your handheld.\n");
  EXPECT_EQ(fs::file_size(users / "Alice Smith" / "Install" / "Atlas.pdb"), 10000u);

  WriteWholeFile(dir_ / "notes.txt", "text");
  Result refused = Fvx(
      {"send", (dir_ / "notes.txt").string(), "--palm", users.string(), "--user", "Alice Smith"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err,
            "Installation failed!\n\nThere was a problem in installing the file.\nPlease refer to "
            "the user manual.\n");
  EXPECT_EQ(Fvx({"send", book_.string(), "--palm", users.string()}).exit_code, 2);
}

}  // namespace
