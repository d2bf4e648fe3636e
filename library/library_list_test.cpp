// The local library over a scratch registry: loading, numbering, sorting,
// renaming and deleting entries, the start-up check and the home-page list.
#include "library/library_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "library/library_check.h"
#include "library/library_settings.h"
#include "library/local_list.h"

namespace fvx::library {
namespace {

namespace fs = std::filesystem;
using platform::Registry;
using platform::RegistryRoot;
constexpr RegistryRoot kLm = RegistryRoot::kLocalMachine;

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("fvx_library_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    registry_ = std::make_unique<Registry>((dir_ / "registry.db").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  void AddEntry(const std::string& key, const std::string& heading, const std::string& path,
                uint32_t created = 0) {
    registry_->WriteString(kLm, FileInfoKey(key), "Heading", heading);
    registry_->WriteString(kLm, FileInfoKey(key), "Path", path);
    if (created != 0) registry_->WriteDword(kLm, FileInfoKey(key), "CreatedTime", created);
  }

  // A real book file; different subject counts give different ids.
  std::string WriteBook(const std::string& name, int subjects) {
    format::testing::SampleBookOptions options;
    options.subject_count = subjects;
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << format::testing::BuildSampleBook(options).container;
    return path;
  }

  fs::path dir_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(LibraryTest, LoadMergesPathsNumbersTitlesAndNamesUntitledBooks) {
  AddEntry("K1", "Atlas", "/books/atlas.fvx");
  AddEntry("K2", "Atlas again", "/BOOKS/Atlas.FVX");  // the same file in another case
  AddEntry("K3", "Flora", "/books/flora1.fvx", 100);
  AddEntry("K4", "flora", "/books/flora2.fvx", 300);
  AddEntry("K5", "Flora", "/books/flora3.fvx", 200);
  AddEntry("K6", "", "C:\\Books\\World_Atlas.fvx");
  AddEntry("K7", "No file", "");

  LibraryList list(*registry_);
  list.Load();
  std::vector<std::string> headings;
  for (const LibraryEntry& entry : list.entries()) headings.push_back(entry.heading);
  EXPECT_EQ(headings, (std::vector<std::string>{"Atlas", "Flora - 1", "flora - 2", "Flora - 3",
                                                "World Atlas"}));
  // The registry keeps the plain titles.
  EXPECT_EQ(registry_->ReadString(kLm, FileInfoKey("K3"), "Heading"), "Flora");

  list.Sort(LibraryColumn::kCreatedTime, false);
  EXPECT_EQ(list.Path(0), "/books/flora2.fvx");
  EXPECT_EQ(list.DateText(list.size() - 1), "  --  ");
  EXPECT_EQ(FormatLibraryDate(0), "  --  ");
  EXPECT_EQ(FormatLibraryDate(1700000000).size(), std::string("00/00/0000 00:00 AM").size());
  list.Sort(LibraryColumn::kPath, false);  // paths sort ascending whatever is asked
  EXPECT_EQ(list.Path(0), "/books/atlas.fvx");

  list.Sort(LibraryColumn::kHeading, true);
  EXPECT_EQ(list.FindPrefix("fL"), 1u);
  EXPECT_EQ(list.FindPrefix("world a"), 4u);
  EXPECT_FALSE(list.FindPrefix("x"));
  EXPECT_EQ(list.Heading(99), "");
}

TEST_F(LibraryTest, RenameAndDeleteTouchOnlyTheRegistry) {
  std::string book = WriteBook("kept.fvx", 3);
  AddEntry("K1", "Beta", book, 5);
  AddEntry("K2", "Alpha", "/books/alpha.fvx", 6);
  registry_->WriteDword(kLm, FileInfoKey("K1"), "LastPage", 7);
  LibraryList list(*registry_);
  list.Load();
  EXPECT_FALSE(list.Rename(0, "  \t "));
  EXPECT_FALSE(list.Rename(9, "Gamma"));
  ASSERT_TRUE(list.Rename(0, " Zeta "));  // Alpha becomes " Zeta " and sorts first
  EXPECT_EQ(registry_->ReadString(kLm, FileInfoKey("K2"), "Heading"), " Zeta ");
  EXPECT_EQ(list.Heading(0), " Zeta ");

  list.Delete({1, 1, 7});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_FALSE(registry_->KeyExists(kLm, FileInfoKey("K1")));  // reading state goes with it
  EXPECT_TRUE(fs::exists(book));
}

TEST_F(LibraryTest, StartupCheckDatesTheRightBookAndDropsTheRest) {
  std::string right = WriteBook("right.fvx", 3);
  std::string other = WriteBook("other.fvx", 4);
  std::string replaced = WriteBook("replaced.fvx", 5);
  std::string right_id = *format::BookIdOfFile(right);
  std::string replaced_id = *format::BookIdOfFile(replaced);
  AddEntry(right_id, "Right", right);
  AddEntry("0000000000000000000000000000000000000000", "Other", other);
  AddEntry(replaced_id, "Replaced", replaced, *FileCreatedTime(replaced) - 50);
  AddEntry("GONE", "Gone", (dir_ / "gone.fvx").string());
  AddEntry("NOPATH", "No path", "");

  std::thread check = StartLibraryCheck(*registry_);
  check.join();
  EXPECT_EQ(registry_->SubKeys(kLm, FileInfoKey()), std::vector<std::string>{right_id});
  EXPECT_EQ(registry_->ReadDword(kLm, FileInfoKey(right_id), "CreatedTime"),
            *FileCreatedTime(right));
  EXPECT_EQ(CheckLibraryEntries(*registry_), 0);  // a second start keeps the dated entry
}

TEST_F(LibraryTest, LocalListAndLocalCopiesStayInTheLibraryFolder) {
  EXPECT_EQ(BuildLocalListHtml(*registry_), "");
  fs::path library = dir_ / "Library";
  fs::create_directories(library);
  std::ofstream(library / "Sea.fvx") << "book";
  std::string url = "http://127.0.0.1/books/Sea.fvx";
  std::string key = LocalKey() + "\\" + format::UrlKey(url);
  registry_->WriteString(kLm, key, "Heading", "Sea & <Sky>");
  registry_->WriteString(kLm, key, "FilePath", "Sea.fvx");
  registry_->WriteString(kLm, LocalKey() + "\\EVIL", "FilePath", "../registry.db");

  EXPECT_EQ(BuildLocalListHtml(*registry_),
            "<UL><LI><A href=\"<100:1:0>Sea.fvx\">Sea &amp; &lt;Sky&gt;</A></UL>");
  EXPECT_EQ(FindLocalCopy(*registry_, url, library.string()), (library / "Sea.fvx").string());
  EXPECT_FALSE(FindLocalCopy(*registry_, url + "x", library.string()));

  registry_->WriteString(kLm, key, "FilePath", "/etc/hostname");
  EXPECT_FALSE(FindLocalCopy(*registry_, url, library.string()));
  for (const char* hostile : {"..", "../x", "a/../../b", "\\abs", "C:\\x", "", "a//b"}) {
    EXPECT_FALSE(IsPlainRelativeName(hostile)) << hostile;
  }
  EXPECT_TRUE(IsPlainRelativeName("sub/Book.fvx"));
}

}  // namespace
}  // namespace fvx::library
