#include "reader/reading_state.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/scratch_file.h"

namespace fvx::reader {
namespace {

constexpr platform::RegistryRoot kRoot = platform::RegistryRoot::kLocalMachine;

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest()
      : path_(platform::TemporaryFolderWithMostSpace() + "/fvx_reader_registry_" +
              std::to_string(::getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".db"),
        registry_(path_) {}
  ~RegistryTest() override {
    ::unlink(path_.c_str());
    ::unlink((path_ + "-wal").c_str());
    ::unlink((path_ + "-shm").c_str());
  }
  std::string path_;
  platform::Registry registry_;
};

const std::string kBookA(40, 'A');
const std::string kBookB(40, 'B');

TEST_F(RegistryTest, MissingValuesAreCreatedWithTheirDefaultExcept57072) {
  const std::string key = FileInfoKey(kBookA);
  EXPECT_EQ(key, "Software\\Calderwick Ltd.\\Folivox\\Fvx\\FileInfo\\" + kBookA);
  EXPECT_EQ(ReadDwordWithDefault(registry_, key, "Some", 7), 7u);
  EXPECT_EQ(registry_.QueryDword(kRoot, key, "Some"), 7u);
  EXPECT_EQ(ReadDwordWithDefault(registry_, key, "Other", 57072), 57072u);
  EXPECT_FALSE(registry_.QueryDword(kRoot, key, "Other").has_value());
  registry_.WriteDword(kRoot, key, "Other", 3);
  EXPECT_EQ(ReadDwordWithDefault(registry_, key, "Other", 57072), 3u);
}

TEST_F(RegistryTest, LastPageIsKeptPerBook) {
  LastPageStore store(&registry_);
  // First open: nothing saved, and afterwards the values exist with 0.
  EXPECT_FALSE(store.Restore(kBookA).has_value());
  EXPECT_EQ(registry_.QueryDword(kRoot, FileInfoKey(kBookA), "LastPageLength"), 0u);
  EXPECT_EQ(registry_.QueryDword(kRoot, FileInfoKey(kBookA), "LastPage"), 0u);

  store.RecordOpen(kBookA, "/books/a.fvx");
  store.Save(kBookA, {12, 300, 2000});
  store.Save(kBookB, {1, 0, 0});
  EXPECT_EQ(registry_.QueryString(kRoot, FileInfoKey(kBookA), "Path"), "/books/a.fvx");
  const std::optional<SavedPage> a = store.Restore(kBookA);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->row, 12u);
  EXPECT_EQ(a->offset, 300u);
  EXPECT_EQ(a->height, 2000u);
  EXPECT_FALSE(store.Restore(kBookB).has_value());  // a height of 0 is no saved page
}

TEST(RestoredScroll, ScalesByTheHeightsIn32Bits) {
  EXPECT_EQ(RestoredScrollOffset(300, 2000, 2000), 300u);
  EXPECT_EQ(RestoredScrollOffset(300, 2000, 4000), 600u);
  EXPECT_EQ(RestoredScrollOffset(300, 0, 4000), 0u);
  // The product wraps before the division, as 32-bit arithmetic does.
  EXPECT_EQ(RestoredScrollOffset(100000, 100000, 100000), (100000u * 100000u) / 100000u);
}

TEST(History, CursorAndForwardEntries) {
  History history;
  EXPECT_FALSE(history.CanGoBack());
  EXPECT_FALSE(history.CanGoForward());
  const uint32_t first = history.Add("One", 1, 0, 0, 0);
  history.Add("Two", 2, 0, 0, 0);
  history.Add("Two again", 2, 0, 0, 0);  // the same subject: no entry
  history.Add("Three", 3, 0, 0, 0);
  EXPECT_EQ(history.size(), 3u);
  EXPECT_TRUE(history.UpdateScroll(first, 1, 40, 900));
  EXPECT_FALSE(history.UpdateScroll(first, 2, 40, 900));

  EXPECT_EQ(history.Back()->subject, 2u);
  const std::optional<HistoryEntry> back = history.Back();
  EXPECT_EQ(back->subject, 1u);
  EXPECT_EQ(back->offset, 40u);
  EXPECT_EQ(back->height, 900u);
  EXPECT_FALSE(history.CanGoBack());
  EXPECT_TRUE(history.CanGoForward());
  // Showing the page that back returned changes nothing.
  history.Add("One", 1, 0, 0, 0);
  EXPECT_EQ(history.size(), 3u);
  EXPECT_EQ(history.Forward()->subject, 2u);
  // A new page after back drops the forward entries.
  history.Add("Four", 4, 0, 0, 0);
  EXPECT_EQ(history.size(), 3u);
  EXPECT_EQ(history.entry(2).subject, 4u);
  EXPECT_FALSE(history.CanGoForward());
}

TEST(History, TheTwentyFirstEntryPushesOutTheOldest) {
  History history;
  for (uint32_t s = 0; s < 20; ++s) history.Add("p", s, 0, 0, 0);
  EXPECT_EQ(history.size(), 20u);
  EXPECT_EQ(history.entry(0).subject, 0u);
  history.Add("p", 20, 0, 0, 0);
  EXPECT_EQ(history.size(), 20u);
  EXPECT_EQ(history.entry(0).subject, 1u);
  EXPECT_EQ(history.entry(19).subject, 20u);
  EXPECT_EQ(history.cursor(), 19u);
  // Serials keep growing.
  EXPECT_EQ(history.entry(19).serial, history.entry(18).serial + 1);
}

}  // namespace
}  // namespace fvx::reader
