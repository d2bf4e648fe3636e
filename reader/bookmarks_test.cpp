#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include <random>

#include "bookformat/book_id.h"
#include "bookformat/book_layout.h"
#include "bookformat/coding.h"
#include "bookformat/container.h"
#include "bookformat/testing/test_book.h"
#include "platform/file.h"
#include "reader/book_document.h"
#include "reader/slot_table.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::BuildTestBook;
using testing::TemporaryBookFile;
using testing::TestBookSpec;
using testing::TestSlot;

TestSlot Kind(uint8_t kind, const std::string& text) {
  TestSlot slot;
  slot.kind = kind;
  std::copy(text.begin(), text.end(), slot.payload.begin());
  return slot;
}

TestBookSpec BookWithSlots() {
  TestBookSpec spec = testing::SimpleBook({"one", "two", "three"});
  testing::TestCategory colour;
  colour.name = "Colour";
  colour.names = {"blue", "red"};
  colour.values_of_subject = {{1}, {0}, {1}};
  spec.categories = {colour};
  spec.slot_table_slots = 8;
  spec.slots = {Kind(5, "a further list"), Kind(3, "Colour = red")};
  return spec;
}

std::unique_ptr<BookDocument> OpenFile(const std::string& path) {
  auto document = std::make_unique<BookDocument>();
  OpenCode code;
  EXPECT_TRUE(document->Open(path, &code)) << document->OpenFailure();
  return document;
}

std::string FileBytes(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  std::string bytes(file.IsOpen() ? file.Size().value_or(0) : 0, '\0');
  if (!bytes.empty() && !file.ReadAt(0, bytes.data(), bytes.size())) bytes.clear();
  return bytes;
}

std::string SlotBytes(const std::string& file, uint32_t slot) {
  BookDocument document;
  OpenCode code;
  EXPECT_TRUE(document.OpenBytes(file, "b.fvx", &code));
  const uint64_t table = document.layout().bookmarks->slot_table;
  const uint32_t start = format::LoadU32(reinterpret_cast<const uint8_t*>(file.data() + 78));
  return file.substr(start + table + 64ull * slot, 64);
}

TEST(Bookmarks, ABookWithoutSlotTableHasNoneAndAddingFails) {
  const std::string bytes = BuildTestBook(testing::SimpleBook({"one"}));
  TemporaryBookFile file(bytes);
  auto document = OpenFile(file.path());
  EXPECT_FALSE(document->HasSlotTable());
  EXPECT_EQ(document->BookmarkCount(), 0u);
  EXPECT_EQ(document->SavedFilterCount(), 0u);
  EXPECT_FALSE(document->AddBookmark(0, 0, "x").has_value());
  EXPECT_FALSE(document->DeleteBookmark(0));
  EXPECT_EQ(file.Read(), bytes);
}

TEST(Bookmarks, AddRenameDeleteAndReuse) {
  TemporaryBookFile file(BuildTestBook(BookWithSlots()));
  auto document = OpenFile(file.path());
  ASSERT_TRUE(document->HasSlotTable());
  EXPECT_EQ(document->BookmarkCount(), 0u);
  const std::string further = SlotBytes(file.Read(), 1);
  const std::string filter = SlotBytes(file.Read(), 2);

  EXPECT_EQ(document->AddBookmark(1, 40, "Second subject"), 3u);  // slots 1, 2 are used
  EXPECT_EQ(document->AddBookmark(2, 0, std::string(60, 'n')), 4u);
  ASSERT_EQ(document->BookmarkCount(), 2u);
  uint32_t subject, position;
  ASSERT_TRUE(document->Bookmark(0, &subject, &position));
  EXPECT_EQ(subject, 1u);
  EXPECT_EQ(position, 40u);
  EXPECT_EQ(document->BookmarkName(1), std::string(55, 'n'));  // cut to 55 bytes
  EXPECT_FALSE(document->AddBookmark(0, 0, "").has_value());

  const std::string slot3 = SlotBytes(file.Read(), 3);
  EXPECT_EQ(slot3[0], 1);
  EXPECT_EQ(slot3.substr(1, 8), std::string("\0\0\0\x01\0\0\0\x28", 8));
  EXPECT_EQ(slot3.substr(9, 14), "Second subject");
  EXPECT_EQ(slot3.substr(23), std::string(41, '\0'));
  EXPECT_EQ(SlotBytes(file.Read(), 0).substr(0, 4), std::string("\0\0\0\x04", 4));

  ASSERT_TRUE(document->RenameBookmark(0, "Renamed"));
  EXPECT_EQ(document->BookmarkName(0), "Renamed");
  ASSERT_TRUE(document->Bookmark(0, &subject, &position));
  EXPECT_EQ(position, 40u);

  // Deleting frees the slot; N stays; the next bookmark reuses the slot.
  ASSERT_TRUE(document->DeleteBookmark(0));
  EXPECT_EQ(document->BookmarkCount(), 1u);
  EXPECT_EQ(SlotBytes(file.Read(), 3)[0], 0);
  EXPECT_EQ(SlotBytes(file.Read(), 0).substr(0, 4), std::string("\0\0\0\x04", 4));
  EXPECT_EQ(document->AddBookmark(0, 7, "Again"), 3u);

  // Kinds 3 and 5 came through every edit unchanged.
  EXPECT_EQ(SlotBytes(file.Read(), 1), further);
  EXPECT_EQ(SlotBytes(file.Read(), 2), filter);

  // A reopened book sees the same bookmarks in slot order.
  auto again = OpenFile(file.path());
  ASSERT_EQ(again->BookmarkCount(), 2u);
  EXPECT_EQ(again->BookmarkName(0), "Again");
  EXPECT_EQ(again->BookmarkName(1), std::string(55, 'n'));
}

TEST(Bookmarks, DeletingTheOnlyBookmarkLeavesNAndAFreeSlot) {
  TestBookSpec spec = BookWithSlots();
  spec.slots.clear();
  TemporaryBookFile file(BuildTestBook(spec));
  auto document = OpenFile(file.path());
  EXPECT_EQ(document->AddBookmark(0, 0, "Only"), 1u);
  ASSERT_TRUE(document->DeleteBookmark(0));
  EXPECT_EQ(SlotBytes(file.Read(), 0).substr(0, 4), std::string("\0\0\0\x01", 4));
  EXPECT_EQ(SlotBytes(file.Read(), 1)[0], 0);
  EXPECT_EQ(document->AddBookmark(0, 0, "Next"), 1u);
}

TEST(Bookmarks, ABookOpenedFromMemoryNeverWritesTheFileOfItsName) {
  const std::string bytes = BuildTestBook(BookWithSlots());
  TemporaryBookFile file(bytes);
  BookDocument document;
  OpenCode code;
  ASSERT_TRUE(document.OpenBytes(bytes, file.path(), &code));
  ASSERT_TRUE(document.HasSlotTable());
  EXPECT_FALSE(document.AddBookmark(0, 0, "x").has_value());
  EXPECT_EQ(document.BookmarkCount(), 0u);
  EXPECT_EQ(file.Read(), bytes);
}

TEST(Bookmarks, TheTableNeverGrowsPastItsRoom) {
  TestBookSpec spec = BookWithSlots();
  spec.slot_table_slots = 4;  // slot 0 and three slots, two of them used
  TemporaryBookFile file(BuildTestBook(spec));
  const std::string before = file.Read();
  auto document = OpenFile(file.path());
  EXPECT_EQ(document->AddBookmark(0, 0, "fits"), 3u);
  EXPECT_FALSE(document->AddBookmark(0, 0, "does not").has_value());
  EXPECT_EQ(file.Read().size(), before.size());
}

TEST(Bookmarks, SavedFiltersAreARowOfTheCategoryList) {
  TemporaryBookFile file(BuildTestBook(BookWithSlots()));
  auto document = OpenFile(file.path());
  EXPECT_EQ(document->SavedFilterCount(), 1u);
  ASSERT_EQ(document->CategoryListRowCount(), 2u);
  EXPECT_EQ(document->CategoryListRowName(0), "Filters");
  EXPECT_EQ(document->CategoryListRowName(1), "Colour");
  EXPECT_EQ(document->ListRowValueName(0, 0), "Colour = red");
  ASSERT_TRUE(document->ApplyListRow(0, 0, FilterMode::kReplace));
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{0, 2}));
}

// Everything the test can check about a book it may not write; true when
// the bookmarks stayed readable and every edit failed, leaving the file as
// it was.
bool ReadOnlyBookBehaves(const std::string& path, const std::string& before) {
  BookDocument document;
  OpenCode code;
  if (!document.Open(path, &code)) return false;
  uint32_t subject = 0, position = 0;
  const bool readable = document.BookmarkCount() == 1 && document.BookmarkName(0) == "Kept" &&
                        document.Bookmark(0, &subject, &position) && subject == 2 && position == 5;
  const bool refused = !document.AddBookmark(0, 0, "new").has_value() &&
                       !document.RenameBookmark(0, "other") && !document.DeleteBookmark(0);
  const bool unchanged = document.BookmarkCount() == 1 && document.BookmarkName(0) == "Kept" &&
                         FileBytes(path) == before;
  return readable && refused && unchanged;
}

// A book file that its user may read but not write, in a folder anyone may
// write (so only the book's own permission stops a writer); removed with
// the folder at the end.
class ReadOnlyBook {
 public:
  explicit ReadOnlyBook(const std::string& bytes) : bytes_(bytes) {
    folder_ = "/tmp/fvx_read_only_XXXXXX";
    if (::mkdtemp(folder_.data()) == nullptr) {
      folder_.clear();
      return;
    }
    ::chmod(folder_.c_str(), 0777);
    path_ = folder_ + "/book.fvx";
    platform::File file = platform::File::Open(path_, platform::File::Mode::kCreateTruncate);
    ok_ = file.IsOpen() && file.WriteAt(0, bytes.data(), bytes.size()) &&
          ::chmod(path_.c_str(), 0444) == 0;
  }
  ~ReadOnlyBook() {
    if (!path_.empty()) ::unlink(path_.c_str());
    if (!folder_.empty()) ::rmdir(folder_.c_str());
  }
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::string folder_;
  std::string path_;
  bool ok_ = false;
};

// Runs check as a user whom permissions stop. Permissions do not stop root,
// so root runs it in a child process that has given up its rights.
void ExpectAsOrdinaryUser(const std::string& path, const std::function<bool()>& check) {
  if (::access(path.c_str(), W_OK) != 0) {
    EXPECT_TRUE(check());
    return;
  }
  EXPECT_EXIT(
      {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 ||
            ::access(path.c_str(), W_OK) == 0) {
          std::_Exit(2);
        }
        std::_Exit(check() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Bookmarks, AReadOnlyBookKeepsItsBookmarksReadable) {
  TestBookSpec spec = BookWithSlots();
  TestSlot bookmark;
  bookmark.kind = 1;
  bookmark.payload = EncodeBookmark({2, 5, "Kept"});
  spec.slots.push_back(bookmark);
  ReadOnlyBook book(BuildTestBook(spec));
  ASSERT_TRUE(book.ok());
  ExpectAsOrdinaryUser(book.path(), [&] { return ReadOnlyBookBehaves(book.path(), book.bytes()); });
}

TEST(AddingASlotTable, LeavesAReadOnlyBookAlone) {
  ReadOnlyBook book(BuildTestBook(testing::SimpleBook({"one"})));
  ASSERT_TRUE(book.ok());
  ExpectAsOrdinaryUser(book.path(), [&] {
    return !AddSlotTable(book.path()).ok && FileBytes(book.path()) == book.bytes();
  });
}

// A book gains a 'D' section and a slot table after everything it holds.
class AddingASlotTable : public ::testing::TestWithParam<std::tuple<uint8_t, size_t>> {};

TEST_P(AddingASlotTable, KeepsTheBookIdAndTheContainerConsistent) {
  const auto [version, filler] = GetParam();
  std::mt19937 random(7);
  std::string noise;
  for (size_t i = 0; i < filler; ++i) noise.push_back(static_cast<char>('a' + random() % 26));
  TestBookSpec spec = testing::SimpleBook({"Alpha beta", noise, "gamma"});
  spec.version = version;
  TemporaryBookFile file(BuildTestBook(spec));
  const std::optional<std::string> id = format::BookIdOfFile(file.path());
  ASSERT_TRUE(id.has_value());

  const AddSlotTableResult added = AddSlotTable(file.path());
  ASSERT_TRUE(added.ok) << added.message;
  EXPECT_FALSE(added.already_present);
  EXPECT_EQ(format::BookIdOfFile(file.path()), id);

  format::BookFile book;
  format::BookLayout layout;
  format::FormatError error;
  ASSERT_TRUE(format::OpenBook(file.path(), &book, &layout, &error)) << error.reason;
  ASSERT_TRUE(layout.bookmarks.has_value());
  EXPECT_EQ(layout.header.end_of_book, layout.bookmarks->place.next);
  EXPECT_EQ(layout.bookmarks->slot_table, layout.bookmarks->place.position + 1 + 2 * (version == 2 ? 8 : 4));
  // The digest still covers exactly what was sealed.
  platform::Sha1Digest digest;
  ASSERT_TRUE(format::ComputeStreamDigest(book.source(), book.container().stream_start,
                                          layout.IntegrityAreaPosition(), layout.SealedEnd(),
                                          layout.IntegrityAreaPosition(), &digest));
  EXPECT_TRUE(std::equal(digest.begin(), digest.end(), layout.header.integrity_area.begin()));
  // The container: records are 62464-byte slices, the last entry points at
  // the 64-byte trailing record, and the file ends there.
  const std::string bytes = file.Read();
  auto u32 = [&](size_t at) { return format::LoadU32(reinterpret_cast<const uint8_t*>(bytes.data() + at)); };
  const uint16_t records = format::LoadU16(reinterpret_cast<const uint8_t*>(bytes.data() + 76));
  const uint32_t start = u32(78);
  EXPECT_EQ(start, 78u + 8u * records);
  for (uint32_t i = 0; i + 1 < records; ++i) EXPECT_EQ(u32(78 + 8 * i), start + i * 62464u);
  const uint64_t length = layout.header.end_of_book;
  EXPECT_EQ(records, (length + 62463) / 62464 + 1);
  EXPECT_EQ(u32(78 + 8 * (records - 1)), start + length);
  EXPECT_EQ(bytes.size(), start + length + 64);
  EXPECT_EQ(bytes.substr(bytes.size() - 64), std::string(64, '\0'));

  // Every part of the reader still opens it, and bookmarks now work.
  auto document = OpenFile(file.path());
  ASSERT_TRUE(document->LoadSubject(1));
  EXPECT_EQ(document->CurrentText(), noise);
  EXPECT_EQ(document->AddBookmark(1, 3, "Here"), 1u);
  EXPECT_EQ(format::BookIdOfFile(file.path()), id);
  auto again = OpenFile(file.path());
  EXPECT_EQ(again->BookmarkName(0), "Here");

  const AddSlotTableResult twice = AddSlotTable(file.path());
  EXPECT_TRUE(twice.ok);
  EXPECT_TRUE(twice.already_present);
}

// Small books, and one whose stream crosses into a new record once the
// table is added (the stream then moves back by one record entry).
INSTANTIATE_TEST_SUITE_P(Books, AddingASlotTable,
                         ::testing::Values(std::make_tuple(uint8_t{1}, size_t{10}),
                                           std::make_tuple(uint8_t{2}, size_t{10}),
                                           std::make_tuple(uint8_t{1}, size_t{90000})));

TEST(AddingASlotTable, RefusesWhatIsNotABook) {
  TemporaryBookFile file("not a book at all");
  const AddSlotTableResult result = AddSlotTable(file.path());
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(file.Read(), "not a book at all");
}

}  // namespace
}  // namespace fvx::reader
