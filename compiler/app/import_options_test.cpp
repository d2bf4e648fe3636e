#include "compiler/app/import_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace fvx::compiler {
namespace {

class ImportOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "fvx_options_" + std::to_string(::getpid()) + ".db";
    std::remove(path_.c_str());
    registry_ = std::make_unique<platform::Registry>(path_);
    ASSERT_TRUE(registry_->ok());
  }
  void TearDown() override {
    registry_.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path_ + suffix).c_str());
  }
  std::string path_;
  std::unique_ptr<platform::Registry> registry_;
};

constexpr auto kRoot = platform::RegistryRoot::kLocalMachine;

TEST_F(ImportOptionsTest, MissingNumbersAreStoredWithTheirDefaults) {
  ImportOptions o = LoadImportOptions(*registry_);
  EXPECT_TRUE(o.produce_log);
  EXPECT_FALSE(o.fixed_log_path);
  EXPECT_EQ(o.log_path, "");
  EXPECT_FALSE(o.skip_pictures);
  EXPECT_FALSE(o.fixed_segmentation);
  EXPECT_EQ(o.segmentation_size, 1024u);
  EXPECT_EQ(o.sort_type, 3u);
  EXPECT_FALSE(o.disable_warnings);
  EXPECT_EQ(registry_->QueryDword(kRoot, kImportOptionsKey, "ProduceLog"), 1u);
  EXPECT_EQ(registry_->QueryDword(kRoot, kImportOptionsKey, "SegmentationSize"), 1024u);
  EXPECT_EQ(registry_->QueryDword(kRoot, kImportOptionsKey, "SortType"), 3u);
  EXPECT_FALSE(registry_->QueryString(kRoot, kImportOptionsKey, "LogPath").has_value());
}

TEST_F(ImportOptionsTest, SegmentationIsClampedAndValuesRoundTrip) {
  registry_->WriteDword(kRoot, kImportOptionsKey, "SegmentationSize", 5);
  EXPECT_EQ(LoadImportOptions(*registry_).segmentation_size, 16u);
  registry_->WriteDword(kRoot, kImportOptionsKey, "SegmentationSize", 9000);
  EXPECT_EQ(LoadImportOptions(*registry_).segmentation_size, 8000u);
  ImportOptions o;
  o.produce_log = false;
  o.fixed_log_path = true;
  o.log_path = "/var/log/fvx";
  o.sort_type = ImportOptions::kSortNever;
  o.segmentation_size = 64;
  o.disable_warnings = true;
  ASSERT_TRUE(SaveImportOptions(*registry_, o));
  ImportOptions back = LoadImportOptions(*registry_);
  EXPECT_FALSE(back.produce_log);
  EXPECT_TRUE(back.fixed_log_path);
  EXPECT_EQ(back.log_path, "/var/log/fvx");
  EXPECT_EQ(back.sort_type, 1u);
  EXPECT_EQ(back.segmentation_size, 64u);
  EXPECT_TRUE(back.disable_warnings);
  ASSERT_TRUE(StoreLastImportFile(*registry_, "/books/a.txt"));
  EXPECT_EQ(LastImportFile(*registry_), "/books/a.txt");
}

TEST(ImportOptionsProviderTest, Answers) {
  int asked = 0;
  auto ask = [&](uint32_t) {
    ++asked;
    return true;
  };
  ImportOptions o;
  o.sort_type = ImportOptions::kSortAsk;
  ImportOptionsProvider provider(o, true, ask);
  EXPECT_FALSE(provider.ShouldSort(100));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(provider.ShouldSort(101));
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(provider.ReplaceLeadingUnderscores());
  uint32_t size = 16;
  EXPECT_FALSE(provider.FixedSegmentation(size));
  EXPECT_EQ(size, 16u);
  o.sort_type = ImportOptions::kSortAutomatically;
  o.fixed_segmentation = true;
  o.segmentation_size = 200;
  ImportOptionsProvider automatic(o, false, nullptr);
  EXPECT_TRUE(automatic.ShouldSort(1));
  EXPECT_TRUE(automatic.FixedSegmentation(size));
  EXPECT_EQ(size, 200u);
  o.sort_type = ImportOptions::kSortNever;
  ImportOptionsProvider never(o, false, ask);
  EXPECT_FALSE(never.ShouldSort(5000));
  o.sort_type = ImportOptions::kSortAsk;
  ImportOptionsProvider no_terminal(o, false, nullptr);
  EXPECT_FALSE(no_terminal.ShouldSort(5000));
}

}  // namespace
}  // namespace fvx::compiler
