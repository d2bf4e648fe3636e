// Copies to a handheld that is a temporary folder: the temporary name, the
// card choice, chunking and progress, refused names, cancel and no device.
#include "library/pocket_pc_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "library/folder_device_link.h"
#include "platform/testing/file_contents.h"

namespace fvx::library {
namespace {

using fvx::platform::testing::ReadWholeFile;
using fvx::platform::testing::WriteWholeFile;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Bytes(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  return bytes;
}

// Records the writes and moves that reach the device.
class RecordingLink : public FolderDeviceLink {
 public:
  using FolderDeviceLink::FolderDeviceLink;
  bool CeWriteFile(CeHandle file, const void* data, uint32_t count, uint32_t* written) override {
    writes.push_back(count);
    return FolderDeviceLink::CeWriteFile(file, data, count, written);
  }
  bool CeMoveFile(std::string_view from, std::string_view to) override {
    ++moves;
    return FolderDeviceLink::CeMoveFile(from, to);
  }
  std::vector<uint32_t> writes;
  int moves = 0;
};

class PocketPcLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_ppc_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    device_ = dir_ / "device";
    fs::create_directories(device_);
    book_ = (dir_ / "Books" / "Atlas.fvx").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_);
  }
  void MakeCard(const std::string& name) { WriteWholeFile(device_ / name / kStorageCardMarker, ""); }

  fs::path dir_;
  fs::path device_;
  std::string book_;
};

TEST_F(PocketPcLinkTest, CopiesThroughTheTemporaryNameReportingEachPercentageOnce) {
  const std::string content = Bytes(10 * 4096 + 123);
  WriteWholeFile(book_, content);
  FolderDeviceLink device(device_.string());
  PocketPcLink link(device, 200ms);
  std::vector<int> percentages;
  bool temporary_seen = false;
  bool final_seen_early = false;
  link.SetProgressListener([&](int percentage) {
    if (percentages.empty()) {
      temporary_seen = fs::exists(device_ / "My Documents" / "Atlas.tmp");
      final_seen_early = fs::exists(device_ / "My Documents" / "Atlas.fvx");
    }
    percentages.push_back(percentage);
  });
  bool already = true;
  ASSERT_TRUE(link.CopyFile(book_, "", true, &already));
  EXPECT_FALSE(already);
  EXPECT_TRUE(temporary_seen);
  EXPECT_FALSE(final_seen_early);
  EXPECT_EQ(ReadWholeFile(device_ / "My Documents" / "Atlas.fvx"), content);
  EXPECT_FALSE(fs::exists(device_ / "My Documents" / "Atlas.tmp"));
  ASSERT_FALSE(percentages.empty());
  EXPECT_EQ(percentages.back(), 100);
  for (size_t i = 1; i < percentages.size(); ++i) EXPECT_LT(percentages[i - 1], percentages[i]);
  EXPECT_FALSE(link.IsBusy());

  // Again, over the copy now there: replaced, and the same percentages.
  std::vector<int> first = percentages;
  percentages.clear();
  ASSERT_TRUE(link.CopyFile(book_, "", true, &already));
  EXPECT_EQ(percentages, first);
  // Without overwrite the copy there is left alone.
  WriteWholeFile(book_, "newer");
  EXPECT_FALSE(link.CopyFile(book_, "", false, &already));
  EXPECT_TRUE(already);
  EXPECT_EQ(ReadWholeFile(device_ / "My Documents" / "Atlas.fvx"), content);
}

TEST_F(PocketPcLinkTest, CardsAreMarkedRootFoldersLessTheBuiltInOnes) {
  WriteWholeFile(book_, Bytes(5000));
  MakeCard("Storage Card");
  MakeCard("Built-in Storage");
  fs::create_directories(device_ / "Windows");
  WriteWholeFile(device_ / "Windows" / "Sub" / kStorageCardMarker, "");  // not at the root: no card
  WriteWholeFile(device_ / kBuiltinFoldersFile,
           "# device registry\r\nSDMemory = Storage Card Old\nFlash=built-in storage\r\nNoName\n");
  FolderDeviceLink device(device_.string());
  PocketPcLink link(device, 200ms);
  std::vector<std::string> cards;
  ASSERT_TRUE(link.ListStorageCards(&cards));
  ASSERT_EQ(cards, std::vector<std::string>{"Storage Card"});
  ASSERT_TRUE(link.CopyFile(book_, cards[0], true, nullptr));
  EXPECT_EQ(ReadWholeFile(device_ / "Storage Card" / "My Documents" / "Atlas.fvx"), Bytes(5000));
  EXPECT_FALSE(fs::exists(device_ / "My Documents"));

  // Only built-in storage: the listing succeeds, the list is empty.
  fs::remove_all(device_ / "Storage Card");
  EXPECT_TRUE(link.ListStorageCards(&cards));
  EXPECT_TRUE(cards.empty());
  // No marked folder at all: failure.
  fs::remove(device_ / "Built-in Storage" / kStorageCardMarker);
  EXPECT_FALSE(link.ListStorageCards(&cards));
}

TEST_F(PocketPcLinkTest, WholeChunksAndTheEndOfTheFile) {
  for (size_t size : {size_t{3 * 4096}, size_t{3 * 4096 + 1}, size_t{0}}) {
    WriteWholeFile(book_, Bytes(size));
    RecordingLink device(device_.string());
    PocketPcLink link(device, 200ms);
    std::vector<int> percentages;
    link.SetProgressListener([&](int p) { percentages.push_back(p); });
    ASSERT_TRUE(link.CopyFile(book_, "", true, nullptr)) << size;
    std::vector<uint32_t> expected(size / 4096, 4096);
    if (size % 4096) expected.push_back(size % 4096);
    EXPECT_EQ(device.writes, expected) << size;  // no empty write after the last full chunk
    EXPECT_EQ(fs::file_size(device_ / "My Documents" / "Atlas.fvx"), size);
    if (size == 3 * 4096) {
      EXPECT_EQ(percentages, (std::vector<int>{33, 66, 100}));
    }
    if (size == 0) {
      EXPECT_TRUE(percentages.empty());
    }
  }
}

TEST_F(PocketPcLinkTest, ReadOnlyNamesOnTheDevice) {
  WriteWholeFile(book_, Bytes(9000));
  // A final name that cannot be replaced: both moves fail, the temporary
  // file goes, the old book stays.
  const fs::path final_name = device_ / "My Documents" / "Atlas.fvx";
  WriteWholeFile(final_name, "old");
  fs::permissions(final_name, fs::perms::owner_read | fs::perms::group_read);
  RecordingLink device(device_.string());
  PocketPcLink link(device, 200ms);
  bool already = true;
  EXPECT_FALSE(link.CopyFile(book_, "", true, &already));
  EXPECT_FALSE(already);
  EXPECT_EQ(device.moves, 2);
  EXPECT_EQ(ReadWholeFile(final_name), "old");
  EXPECT_FALSE(fs::exists(device_ / "My Documents" / "Atlas.tmp"));

  // A temporary name that cannot be replaced: error 80, told as "already there".
  fs::permissions(final_name, fs::perms::owner_write, fs::perm_options::add);
  const fs::path temporary = device_ / "My Documents" / "Atlas.tmp";
  WriteWholeFile(temporary, "stale");
  fs::permissions(temporary, fs::perms::owner_read);
  EXPECT_FALSE(link.CopyFile(book_, "", true, &already));
  EXPECT_TRUE(already);
  EXPECT_EQ(device.CeGetLastError(), kCeErrorFileExists);
  EXPECT_EQ(ReadWholeFile(final_name), "old");
}

TEST_F(PocketPcLinkTest, CancelLeavesTheTemporaryFile) {
  WriteWholeFile(book_, Bytes(20 * 4096));
  FolderDeviceLink device(device_.string());
  PocketPcLink link(device, 200ms);
  int reports = 0;
  link.SetProgressListener([&](int) {
    if (++reports == 3) link.Cancel();
  });
  EXPECT_FALSE(link.CopyFile(book_, "", true, nullptr));
  EXPECT_EQ(reports, 3);
  EXPECT_TRUE(fs::exists(device_ / "My Documents" / "Atlas.tmp"));
  EXPECT_FALSE(fs::exists(device_ / "My Documents" / "Atlas.fvx"));
  EXPECT_FALSE(link.IsBusy());
  // The link is usable again afterwards.
  link.SetProgressListener(nullptr);
  EXPECT_TRUE(link.CopyFile(book_, "", true, nullptr));
}

TEST_F(PocketPcLinkTest, NoDeviceFailsAfterTheWaitOrAtCancel) {
  WriteWholeFile(book_, Bytes(100));
  FolderDeviceLink device((dir_ / "unplugged").string());
  PocketPcLink link(device, 150ms);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.CopyFile(book_, "", true, nullptr));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  std::vector<std::string> cards;
  EXPECT_FALSE(link.ListStorageCards(&cards));

  // A long wait ends at Cancel() from another thread.
  PocketPcLink patient(device, 60s);
  std::thread canceller([&] {
    while (!patient.IsConnecting()) std::this_thread::yield();
    patient.Cancel();
  });
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(patient.Connect());
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_FALSE(patient.IsConnecting());
  // A desktop file that is not there fails before any connection.
  EXPECT_FALSE(link.CopyFile((dir_ / "missing.fvx").string(), "", true, nullptr));
}

TEST_F(PocketPcLinkTest, DevicePathsStayInsideTheRoot) {
  fs::create_directories(dir_ / "outside");
  FolderDeviceLink device(device_.string());
  RapiInit init;
  ASSERT_EQ(device.CeRapiInitEx(&init), 0);
  ASSERT_TRUE(init.heRapiInit.IsSet());
  EXPECT_EQ(device.CeCreateFile("..\\outside\\x.fvx", kCeGenericWrite, kCeCreateAlways),
            kInvalidCeHandle);
  EXPECT_FALSE(device.CeCreateDirectory("My Documents\\..\\..\\outside\\y"));
  EXPECT_TRUE(fs::is_empty(dir_ / "outside"));
  // A link planted at the temporary name is not written through.
  fs::create_directories(device_ / "My Documents");
  fs::create_symlink(dir_ / "outside" / "victim", device_ / "My Documents" / "Atlas.tmp");
  EXPECT_EQ(device.CeCreateFile("\\My Documents\\Atlas.tmp", kCeGenericWrite, kCeCreateAlways),
            kInvalidCeHandle);
  EXPECT_EQ(device.CeGetLastError(), kCeErrorFileExists);
  EXPECT_FALSE(fs::exists(dir_ / "outside" / "victim"));
  device.CeRapiUninit();
  EXPECT_EQ(device.CeCreateFile("My Documents/a", kCeGenericWrite, kCeCreateAlways),
            kInvalidCeHandle);
  EXPECT_EQ(device.CeGetLastError(), kCeErrorDeviceNotConnected);
}

}  // namespace
}  // namespace fvx::library
