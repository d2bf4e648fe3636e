#include "reader/book_document.h"

#include <gtest/gtest.h>

#include "bookformat/book_id.h"
#include "bookformat/coding.h"
#include "bookformat/testing/test_book.h"
#include "reader/picture_files.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::BuildTestBook;
using testing::Element;
using testing::TestBookSpec;
using testing::TestCategory;
using testing::U32;

constexpr uint32_t kNumeric = 0x1;
constexpr uint32_t kMultiple = 0x2;
constexpr uint32_t kInternal = 0x8;

// Five planets, a numeric and a multiple text category, a selection, two
// pictures (PNG and JPEG) and both covers.
TestBookSpec PlanetBook(uint8_t version = 1) {
  TestBookSpec spec;
  spec.version = version;
  spec.subjects = {{"Earth", "Earth is the third planet.", true},
                   {"Jupiter", "Jupiter is a gas giant with rings.", false},
                   {"Mars", "Mars is red." + Element(22, U32(1) + U32(0) + U32(0) + U32(0) + U32(9) +
                                                     std::string("Mars\0", 5)),
                    false},
                   {"Mercury", "", false},
                   {"Saturn", "Saturn has rings.", false}};
  TestCategory diameter;
  diameter.name = "Diameter";
  diameter.flags = kNumeric;
  diameter.numbers = {4879, 6779, 12742, 116460, 139820};
  diameter.precision = 1;
  diameter.prefix = "ca.";
  diameter.suffix = "km";
  diameter.values_of_subject = {{2}, {4}, {1}, {0}, {3}};
  TestCategory features;
  features.name = "Features";
  features.flags = kMultiple;
  features.names = {"gas", "life", "red", "rings"};
  features.values_of_subject = {{1}, {0, 3}, {2}, {}, {0, 3}};
  spec.categories = {diameter, features};
  spec.selections = {{"Gas giants", {4, 1}}, {"Inner", {0, 2, 3}}};
  spec.pictures = {{"\x89PNG picture bytes", "", 10, 10}, {"\xFF\xD8 jpeg bytes", "small", 5, 5}};
  spec.front_cover = 0;
  spec.front_cover_title = "Planets";
  spec.back_cover = 1;
  spec.back_cover_title = "The end";
  return spec;
}

std::unique_ptr<BookDocument> Open(const TestBookSpec& spec) {
  auto document = std::make_unique<BookDocument>();
  OpenCode code = OpenCode::kDamaged;
  EXPECT_TRUE(document->OpenBytes(BuildTestBook(spec), "planets.fvx", &code))
      << document->OpenFailure();
  EXPECT_EQ(code, OpenCode::kOk);
  return document;
}

OpenCode OpenCodeOf(std::string bytes) {
  BookDocument document;
  OpenCode code = OpenCode::kOk;
  EXPECT_FALSE(document.OpenBytes(std::move(bytes), "x.fvx", &code));
  EXPECT_FALSE(document.IsOpen());
  return code;
}

uint32_t StreamStart(const std::string& file) {
  return format::LoadU32(reinterpret_cast<const uint8_t*>(file.data() + 78));
}

TEST(BookDocumentOpen, OutCodes) {
  const std::string book = BuildTestBook(PlanetBook());
  EXPECT_EQ(OpenCodeOf(""), OpenCode::kNotABook);
  std::string wrong_magic = book;
  wrong_magic[60] = 'X';
  EXPECT_EQ(OpenCodeOf(wrong_magic), OpenCode::kNotABook);
  std::string no_records = book;
  no_records[76] = no_records[77] = 0;
  EXPECT_EQ(OpenCodeOf(no_records), OpenCode::kNotABook);
  for (char version : {'\0', '\3'}) {
    std::string other = book;
    other[StreamStart(book) + 5] = version;
    EXPECT_EQ(OpenCodeOf(other), OpenCode::kUnsupportedVersion);
  }
  EXPECT_EQ(OpenCodeOf(book.substr(0, book.size() / 2)), OpenCode::kDamaged);
  std::string wrong_tag = book;
  wrong_tag[StreamStart(book)] = 'X';
  EXPECT_EQ(OpenCodeOf(wrong_tag), OpenCode::kDamaged);
  TestBookSpec wide = PlanetBook();
  wide.search_index = false;  // two-byte characters
  EXPECT_EQ(OpenCodeOf(BuildTestBook(wide)), OpenCode::kUnsupportedVersion);

  BookDocument missing;
  OpenCode code;
  EXPECT_FALSE(missing.Open("/nonexistent/book.fvx", &code));
  EXPECT_EQ(code, OpenCode::kNotABook);
}

TEST(BookDocumentOpen, IdentityAndClose) {
  const std::string book = BuildTestBook(PlanetBook());
  testing::TemporaryBookFile file(book);
  BookDocument document;
  OpenCode code;
  ASSERT_TRUE(document.Open(file.path(), &code));
  EXPECT_EQ(document.FilePath(), file.path());
  EXPECT_EQ(document.FormatVersion(), 1);
  EXPECT_EQ(document.BookId().size(), 40u);
  EXPECT_EQ(document.BookId(), format::BookIdOfFile(file.path()).value());
  document.Close();
  EXPECT_FALSE(document.IsOpen());
  EXPECT_EQ(document.BookId(), "");
  EXPECT_EQ(document.SubjectCount(), 0u);
  EXPECT_EQ(document.BookIdOfFile(file.path()), format::BookIdOfFile(file.path()));
  EXPECT_FALSE(document.LoadSubject(0));
}

TEST(BookDocument, HeadingsAndAnchorFlags) {
  for (uint8_t version : {1, 2}) {
    TestBookSpec spec = PlanetBook(version);
    spec.subjects.push_back({"Sun\xC1", "", false});      // stored with an extra 0x00
    spec.subjects.push_back({"Zeta\xC1", "", true});      // stored with an extra 0x80
    spec.categories.clear();
    auto document = Open(spec);
    bool anchors = false;
    EXPECT_EQ(document->Heading(0, &anchors), "Earth");
    EXPECT_TRUE(anchors);
    EXPECT_EQ(document->Heading(1, &anchors), "Jupiter");
    EXPECT_FALSE(anchors);
    EXPECT_EQ(document->Heading(5, &anchors), "Sun\xC1");
    EXPECT_FALSE(anchors);
    EXPECT_EQ(document->Heading(6, &anchors), "Zeta\xC1");
    EXPECT_TRUE(anchors);
    EXPECT_EQ(document->Heading(7, &anchors), "");
    EXPECT_FALSE(anchors);
  }
}

TEST(BookDocument, WideHeadingOffsetsOnlyWithTheHeaderByte) {
  TestBookSpec spec = PlanetBook(2);
  spec.wide_heading_offsets = true;
  auto wide = Open(spec);
  EXPECT_EQ(wide->Heading(4), "Saturn");
  EXPECT_EQ(wide->HeadingLookup("mer"), 4u);
  // The byte means nothing in version 1: its offsets stay 4 bytes.
  spec.version = 1;
  auto narrow = Open(spec);
  EXPECT_EQ(narrow->Heading(4), "Saturn");
}

// Counts the reads a document makes.
class CountingSource final : public format::ByteSource {
 public:
  CountingSource(std::string bytes, uint64_t* reads) : inner_(std::move(bytes)), reads_(reads) {}
  uint64_t Size() const override { return inner_.Size(); }
  bool ReadAt(uint64_t position, void* out, size_t count) const override {
    ++*reads_;
    return inner_.ReadAt(position, out, count);
  }

 private:
  format::MemoryByteSource inner_;
  uint64_t* reads_;
};

TEST(BookDocument, IndexesBeyondTheirCountsFailWithoutReading) {
  uint64_t reads = 0;
  BookDocument document;
  OpenCode code;
  ASSERT_TRUE(document.OpenSource(std::make_unique<CountingSource>(BuildTestBook(PlanetBook()), &reads),
                                  "counted.fvx", &code));
  const uint64_t after_open = reads;
  EXPECT_FALSE(document.LoadSubject(5));
  EXPECT_EQ(document.Heading(5), "");
  EXPECT_EQ(document.PictureData(2, false, nullptr, 0), 0u);
  EXPECT_EQ(document.PictureKind(0xFFFFFFFF), 0);
  EXPECT_EQ(document.ValueName(0, 5), "");
  EXPECT_FALSE(document.NumericValue(0, 5).has_value());
  ValueList values;
  EXPECT_FALSE(document.ValuesOfSubject(1, 5, &values));
  std::vector<uint32_t> members;
  EXPECT_FALSE(document.SelectionMembers(2, &members));
  EXPECT_EQ(reads, after_open);
  // Opening read the header and the small sections only.
  EXPECT_LT(after_open, 20u);
}

TEST(BookDocument, DropDownCategories) {
  TestBookSpec spec = PlanetBook();
  spec.categories[1].flags |= 0x400;
  spec.categories[0].flags |= 0x800;
  auto document = Open(spec);
  EXPECT_EQ(document->DropDownCategory(1), 1u);
  EXPECT_EQ(document->DropDownCategory(2), 0u);
  EXPECT_FALSE(Open(PlanetBook())->DropDownCategory(1).has_value());
}

TEST(BookDocument, ALastByteOf0xC1IsTheLetterAWithAnchors) {
  TestBookSpec spec = testing::SimpleBook({"x"});
  spec.subjects[0].heading = "Vega";
  spec.subjects[0].has_anchors = true;  // stored as "Veg" 0xC1
  auto document = Open(spec);
  bool anchors = false;
  EXPECT_EQ(document->Heading(0, &anchors), "Vega");
  EXPECT_TRUE(anchors);
}

TEST(BookDocument, RowsWithCoversAndResults) {
  auto document = Open(PlanetBook());
  EXPECT_EQ(document->SubjectCount(), 5u);
  EXPECT_EQ(document->PageCount(), 7u);
  EXPECT_EQ(document->ListRowCount(), 7u);
  EXPECT_FALSE(document->SubjectOfRow(0).has_value());
  EXPECT_EQ(document->SubjectOfRow(1), 0u);
  EXPECT_EQ(document->SubjectOfRow(5), 4u);
  EXPECT_FALSE(document->SubjectOfRow(6).has_value());
  EXPECT_EQ(document->RowOfSubject(4), 5u);
  EXPECT_EQ(document->RowTitle(0), "Planets");
  EXPECT_EQ(document->RowTitle(3), "Mars");
  EXPECT_EQ(document->RowTitle(6), "The end");
  EXPECT_EQ(document->RowTitle(7), "");

  ASSERT_TRUE(document->ApplyListRow(0, 0, FilterMode::kReplace));  // selection "Gas giants"
  EXPECT_TRUE(document->HasResults());
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{1, 4}));
  EXPECT_EQ(document->ListRowCount(), 2u);
  EXPECT_EQ(document->SubjectOfRow(0), 1u);
  EXPECT_EQ(document->SubjectOfRow(1), 4u);
  EXPECT_FALSE(document->SubjectOfRow(2).has_value());
  EXPECT_EQ(document->RowOfSubject(4), 1u);
  EXPECT_FALSE(document->RowOfSubject(0).has_value());
  EXPECT_EQ(document->RowTitle(0), "Jupiter");
  document->ClearResults();
  EXPECT_EQ(document->ListRowCount(), 7u);
}

TEST(BookDocument, LoadSubjectAndProgress) {
  TestBookSpec spec = testing::SimpleBook({"", "0123456789", "abcdefghij"});
  auto document = Open(spec);
  ASSERT_TRUE(document->LoadSubject(0));
  EXPECT_EQ(document->CurrentText(), "");
  EXPECT_EQ(document->ReadingProgress(), 0);
  ASSERT_TRUE(document->LoadSubject(1));
  EXPECT_EQ(document->CurrentText(), "0123456789");
  EXPECT_EQ(document->ReadingProgress(), 50);
  ASSERT_TRUE(document->LoadSubject(2));
  EXPECT_EQ(document->ReadingProgress(), 100);
  EXPECT_EQ(document->CurrentSubject(), 2u);
  EXPECT_EQ(document->CurrentHeading(), "Subject 002");
  EXPECT_FALSE(document->LoadSubject(3));
  EXPECT_EQ(document->CurrentSubject(), 2u);
}

TEST(BookDocument, TextsAcrossManyBlocksAndTheCaches) {
  std::vector<std::string> texts;
  for (int i = 0; i < 40; ++i) texts.push_back(std::string(20000 + i, static_cast<char>('a' + i % 26)));
  auto document = Open(testing::SimpleBook(texts));
  for (uint32_t s = 0; s < texts.size(); ++s) {
    ASSERT_TRUE(document->LoadSubject(s));
    EXPECT_EQ(document->CurrentText(), texts[s]) << s;
  }
  // Text blocks are taken first when the content cache is full.
  EXPECT_LE(document->content_cache()->NodeCount(), format::kContentCacheBlocks);
}

TEST(BookDocument, PicturesAndTheirKinds) {
  auto document = Open(PlanetBook());
  EXPECT_EQ(document->PictureCount(), 2u);
  EXPECT_EQ(document->PictureKind(0), 1);
  EXPECT_EQ(document->PictureKind(1), 2);
  EXPECT_EQ(document->PictureKind(2), 0);
  EXPECT_EQ(document->PictureLength(0, false), 18u);
  EXPECT_EQ(document->PictureLength(0, true), 0u);
  EXPECT_EQ(document->PictureLength(1, false), 13u);
  EXPECT_EQ(document->PictureLength(1, true), 5u);
  std::string buffer(32, '\0');
  EXPECT_EQ(document->PictureData(1, false, buffer.data(), buffer.size()), 13u);
  EXPECT_EQ(buffer.substr(0, 13), "\xFF\xD8 jpeg bytes");
  EXPECT_EQ(document->PictureData(1, true, buffer.data(), buffer.size()), 5u);
  EXPECT_EQ(buffer.substr(0, 5), "small");
  EXPECT_EQ(document->PictureData(1, false, buffer.data(), 4), 0u);  // too small: nothing copied
  EXPECT_EQ(document->PictureData(1, false, nullptr, 0), 13u);
  EXPECT_EQ(document->PictureData(7, false, buffer.data(), buffer.size()), 0u);
}

TEST(BookDocument, CategoriesValuesAndDisplayNames) {
  auto document = Open(PlanetBook());
  EXPECT_EQ(document->VisibleCategoryCount(), 2u);
  EXPECT_EQ(document->InternalCategoryCount(), 0u);
  EXPECT_EQ(document->CategoryName(0), "Diameter");
  EXPECT_EQ(document->ValueCount(0), 5u);
  EXPECT_EQ(document->ValueName(0, 2), "ca. 12,742.0 km");
  EXPECT_EQ(document->ValueName(0, 0), "ca. 4879.0 km");
  EXPECT_EQ(document->NumericValue(0, 3), 116460.0);
  EXPECT_FALSE(document->NumericValue(1, 0).has_value());
  EXPECT_EQ(document->ValueName(1, 3), "rings");
  EXPECT_EQ(document->ValueName(1, 4), "");
  ValueList values;
  ASSERT_TRUE(document->ValuesOfSubject(1, 1, &values));
  EXPECT_EQ(values, (ValueList{0, 3}));
  ASSERT_TRUE(document->ValuesOfSubject(1, 3, &values));
  EXPECT_TRUE(values.empty());
  ASSERT_TRUE(document->ValuesOfSubject(0, 4, &values));
  EXPECT_EQ(values, (ValueList{3}));
  EXPECT_FALSE(document->ValuesOfSubject(0, 5, &values));

  // The category list: the selections row first, then the categories.
  EXPECT_EQ(document->CategoryListRowCount(), 3u);
  EXPECT_EQ(document->CategoryListRowName(0), "Selections");
  EXPECT_EQ(document->CategoryListRowName(1), "Diameter");
  EXPECT_EQ(document->CategoryListRowName(2), "Features");
  EXPECT_EQ(document->ListRowValueCount(0), 2u);
  EXPECT_EQ(document->ListRowValueName(0, 1), "Inner");
  EXPECT_EQ(document->ListRowValueName(2, 1), "life");
  EXPECT_EQ(document->TypeAheadListRow("fea"), 2u);
  EXPECT_FALSE(document->TypeAheadListRow("x").has_value());
}

TEST(BookDocument, CategoryListRows) {
  TestBookSpec spec = testing::SimpleBook({"a"});
  auto none = Open(spec);
  EXPECT_EQ(none->CategoryListRowCount(), 0u);
  spec.selections = {{"Only", {0}}};
  auto selections = Open(spec);
  EXPECT_EQ(selections->CategoryListRowCount(), 1u);
  EXPECT_EQ(selections->CategoryListRowName(0), "Selections");
}

TEST(BookDocument, WideValueOffsetsInVersionTwoOnly) {
  TestBookSpec spec = PlanetBook(2);
  spec.categories[1].flags |= 0x1000;
  auto document = Open(spec);
  EXPECT_EQ(document->ValueName(1, 2), "red");
  EXPECT_EQ(document->ValueName(0, 4), "ca. 139,820.0 km");
}

TEST(BookDocument, AWideTableEntryStraddlingTwoBlocksReadsCorrectly) {
  // Version 2 position entries are 8 bytes; with 2048-byte blocks the pair of
  // subject 127 (entries 254, 255 at bytes 2032..2047) and entry 256 meets
  // the block boundary. Odd text lengths move positions off alignment.
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) texts.push_back(std::string(1 + i % 7, static_cast<char>('a' + i % 26)));
  TestBookSpec spec = testing::SimpleBook(texts);
  spec.version = 2;
  spec.pictures.assign(200, {"\x89PNG", "", 1, 1});  // 20-byte directory entries straddle too
  auto document = Open(spec);
  for (uint32_t s = 0; s < texts.size(); ++s) {
    ASSERT_TRUE(document->LoadSubject(s));
    ASSERT_EQ(document->CurrentText(), texts[s]) << s;
  }
  for (uint32_t p = 0; p < 200; ++p) ASSERT_EQ(document->PictureKind(p), 1) << p;
}

TEST(BookDocument, TreeModeFindsFvxChildOfInAnyCase) {
  TestBookSpec spec;
  spec.subjects = {{"Animals", "", false}, {"Cats", "", false}, {"Lions", "", false},
                   {"Plants", "", false}, {"Tigers", "", false}};
  TestCategory tree;
  tree.name = "FvxChildOf";
  tree.flags = kInternal;
  tree.names = {"Animals", "Cats", "root"};
  tree.values_of_subject = {{2}, {0}, {1}, {2}, {1}};
  spec.categories = {tree};
  auto document = Open(spec);
  EXPECT_TRUE(document->IsTreeMode());
  EXPECT_EQ(document->VisibleCategoryCount(), 0u);
  EXPECT_EQ(document->InternalCategoryCount(), 1u);
  // Opening goes to the root: the top level is listed.
  EXPECT_TRUE(document->IsTreeAtRoot());
  EXPECT_TRUE(document->IsTreeBrowsed());
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{0, 3}));
  EXPECT_TRUE(document->TreePath().empty());

  ASSERT_TRUE(document->GoToChildrenOfSubject(1));
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{2, 4}));
  EXPECT_EQ(document->TreePath(), (std::vector<uint32_t>{0, 1}));
  EXPECT_FALSE(document->IsTreeAtRoot());
  ASSERT_TRUE(document->GoToTreeNode("animals"));
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{1}));
  EXPECT_EQ(document->TreePath(), (std::vector<uint32_t>{0}));
  EXPECT_FALSE(document->GoToChildrenOfSubject(2));  // Lions have no children
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{1}));
  document->LeaveTree();
  EXPECT_FALSE(document->HasResults());
  EXPECT_FALSE(document->IsTreeBrowsed());
  ASSERT_TRUE(document->GoToRoot());
  EXPECT_TRUE(document->IsTreeAtRoot());

  TestBookSpec flat = spec;
  flat.categories[0].flags = 0;  // visible: not a tree
  EXPECT_FALSE(Open(flat)->IsTreeMode());
}

TEST(BookDocument, HeadingLookupWithAndWithoutTheSortedLookup) {
  TestBookSpec sorted;
  for (const char* heading : {"Alpha", "beta", "Beta", "Delta", "epsilon", "Gamma"}) {
    sorted.subjects.push_back({heading, "", false});
  }
  // The same subjects stored in another order, with their sort order in 'Q'.
  TestBookSpec unsorted;
  const std::vector<uint32_t> stored = {5, 3, 0, 4, 1, 2};  // stored index -> sorted subject
  for (uint32_t s : stored) unsorted.subjects.push_back(sorted.subjects[s]);
  unsorted.sort_order = {2, 4, 5, 1, 3, 0};
  for (const TestBookSpec* spec : {&sorted, &unsorted}) {
    auto document = Open(*spec);
    auto lookup = [&](const char* text) -> std::string {
      const std::optional<uint32_t> row = document->HeadingLookup(text);
      return row ? std::string(document->RowTitle(*row)) : "-";
    };
    EXPECT_EQ(lookup(""), "Alpha");
    EXPECT_EQ(lookup("a"), "Alpha");
    EXPECT_EQ(lookup("B"), "beta");
    EXPECT_EQ(lookup("c"), "Delta");  // the nearest heading before any match
    EXPECT_EQ(lookup("EPS"), "epsilon");
    EXPECT_EQ(lookup("gamma"), "Gamma");
    EXPECT_EQ(lookup("z"), "-");
    EXPECT_EQ(document->FindSubjectByHeading("DELTA").has_value(), true);
    EXPECT_EQ(document->Heading(*document->FindSubjectByHeading("DELTA")), "Delta");
  }
}

TEST(BookDocument, HeadingLookupLandsOnTheRowBelowAFrontCover) {
  TestBookSpec spec = PlanetBook();
  auto document = Open(spec);
  EXPECT_EQ(document->HeadingLookup("mars"), 3u);
  ASSERT_TRUE(document->ApplyListRow(0, 0, FilterMode::kReplace));  // Jupiter, Saturn
  EXPECT_EQ(document->HeadingLookup("sat"), 1u);
  EXPECT_EQ(document->HeadingLookup("JU"), 0u);
  EXPECT_FALSE(document->HeadingLookup("mars").has_value());
}

// Every operator over a numeric and a text category.
TEST(BookDocumentFilters, Operators) {
  auto document = Open(PlanetBook());
  auto results = [&](uint32_t category, uint32_t value, FilterOperator op) {
    EXPECT_TRUE(document->ApplyFilter(category, value, op, FilterMode::kReplace));
    return document->Results();
  };
  using V = std::vector<uint32_t>;
  // Diameter values: 0 Mercury(3), 1 Mars(2), 2 Earth(0), 3 Saturn(4), 4 Jupiter(1).
  EXPECT_EQ(results(0, 2, FilterOperator::kEqual), (V{0}));
  EXPECT_EQ(results(0, 2, FilterOperator::kLess), (V{2, 3}));
  EXPECT_EQ(results(0, 2, FilterOperator::kLessOrEqual), (V{0, 2, 3}));
  EXPECT_EQ(results(0, 2, FilterOperator::kGreater), (V{1, 4}));
  EXPECT_EQ(results(0, 2, FilterOperator::kGreaterOrEqual), (V{0, 1, 4}));
  EXPECT_EQ(results(0, 2, FilterOperator::kNotEqual), (V{1, 2, 3, 4}));
  // Features: 0 gas {1,4}, 1 life {0}, 2 red {2}, 3 rings {1,4}; Mercury has none.
  EXPECT_EQ(results(1, 0, FilterOperator::kEqual), (V{1, 4}));
  EXPECT_EQ(results(1, 2, FilterOperator::kLess), (V{0, 1, 4}));
  EXPECT_EQ(results(1, 2, FilterOperator::kGreaterOrEqual), (V{1, 2, 4}));
  EXPECT_EQ(results(1, 0, FilterOperator::kNotEqual), (V{0, 2, 3}));
  EXPECT_FALSE(document->ApplyFilter(1, 4, FilterOperator::kEqual, FilterMode::kReplace));
  EXPECT_FALSE(document->ApplyFilter(2, 0, FilterOperator::kEqual, FilterMode::kReplace));
}

TEST(BookDocumentFilters, ModesAccumulate) {
  auto document = Open(PlanetBook());
  using V = std::vector<uint32_t>;
  ASSERT_TRUE(document->ApplyFilter(1, 1, FilterOperator::kEqual, FilterMode::kReplace));  // life
  ASSERT_TRUE(document->ApplyFilter(1, 2, FilterOperator::kEqual, FilterMode::kOr));       // red
  EXPECT_EQ(document->Results(), (V{0, 2}));
  ASSERT_TRUE(document->ApplyFilter(0, 1, FilterOperator::kGreater, FilterMode::kAnd));
  EXPECT_EQ(document->Results(), (V{0}));
  // The same condition again is ignored (an OR of it would change nothing
  // anyway; AND with the narrower list must not be re-applied either).
  ASSERT_TRUE(document->ApplyFilter(1, 2, FilterOperator::kEqual, FilterMode::kOr));
  EXPECT_EQ(document->Results(), (V{0}));
  ASSERT_TRUE(document->ApplyFilter(1, 0, FilterOperator::kEqual, FilterMode::kReplace));
  EXPECT_EQ(document->Results(), (V{1, 4}));
  // Choosing the first condition again in replace mode leaves it alone.
  ASSERT_TRUE(document->ApplyFilter(1, 1, FilterOperator::kEqual, FilterMode::kReplace));
  ASSERT_TRUE(document->ApplyFilter(1, 2, FilterOperator::kEqual, FilterMode::kOr));
  EXPECT_EQ(document->Results(), (V{0, 2}));
  ASSERT_TRUE(document->ApplyFilter(1, 1, FilterOperator::kEqual, FilterMode::kReplace));
  EXPECT_EQ(document->Results(), (V{0}));
  // What the window shows as the active filter.
  ASSERT_TRUE(document->ApplyFilter(0, 1, FilterOperator::kGreater, FilterMode::kOr));
  using C = std::vector<FilterCondition>;
  EXPECT_EQ(document->ActiveFilter(),
            (C{{1, 1, FilterOperator::kEqual, FilterMode::kReplace},
               {0, 1, FilterOperator::kGreater, FilterMode::kOr}}));
  document->ClearResults();
  EXPECT_TRUE(document->ActiveFilter().empty());
}

TEST(BookDocumentFilters, Expressions) {
  auto document = Open(PlanetBook());
  using V = std::vector<uint32_t>;
  ASSERT_TRUE(document->RunFilterExpression("features = RINGS"));
  EXPECT_EQ(document->Results(), (V{1, 4}));
  ASSERT_TRUE(document->RunFilterExpression("Features=life<OR>Features=red<and>Diameter>6779"));
  EXPECT_EQ(document->Results(), (V{0}));
  // NOT narrows as AND does; the item is not negated.
  ASSERT_TRUE(document->RunFilterExpression("Features = gas <NOT> Diameter >= 139820"));
  EXPECT_EQ(document->Results(), (V{1}));
  ASSERT_TRUE(document->RunFilterExpression("Diameter <= ca. 6779.0 km"));
  EXPECT_EQ(document->Results(), (V{2, 3}));
  // An unknown category or value ends the expression and leaves no filter.
  EXPECT_FALSE(document->RunFilterExpression("Features = gas<AND>Colour = blue"));
  EXPECT_FALSE(document->HasResults());
  EXPECT_FALSE(document->RunFilterExpression("Features = gas<OR>Features = ice"));
  EXPECT_FALSE(document->HasResults());
  EXPECT_FALSE(document->RunFilterExpression("Diameter = 5000"));
  EXPECT_FALSE(document->RunFilterExpression("nonsense"));
}

TEST(BookDocumentFilters, SelectionsAsResultLists) {
  auto document = Open(PlanetBook());
  std::vector<uint32_t> members;
  ASSERT_TRUE(document->SelectionMembers(0, &members));
  EXPECT_EQ(members, (std::vector<uint32_t>{4, 1}));  // as stored
  EXPECT_EQ(document->SelectionMemberCount(1), 3u);
  EXPECT_EQ(document->SelectionName(1), "Inner");
  ASSERT_TRUE(document->ApplyListRow(0, 1, FilterMode::kReplace));
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{0, 2, 3}));
  EXPECT_FALSE(document->SelectionMembers(2, &members));
  // A value of a category row is an = condition.
  ASSERT_TRUE(document->ApplyListRow(2, 2, FilterMode::kReplace));
  EXPECT_EQ(document->Results(), (std::vector<uint32_t>{2}));
}

// Damaged books: flipping bytes anywhere never crashes; the open either
// fails with an out-code or every lookup fails or succeeds cleanly.
TEST(BookDocumentRobustness, FlippedBytesAreHandled) {
  const std::string book = BuildTestBook(PlanetBook());
  PictureFiles files;
  for (size_t at = 0; at < book.size(); at += 7) {
    std::string damaged = book;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    BookDocument document;
    OpenCode code;
    if (!document.OpenBytes(damaged, "d.fvx", &code)) {
      EXPECT_NE(code, OpenCode::kOk);
      continue;
    }
    for (uint32_t row = 0; row < document.PageCount() && row < 16; ++row) {
      PictureMap pictures(nullptr);
      std::string page;
      (void)document.RenderPage(row, 0, 0, 0, false, &pictures, &page);
    }
    for (uint32_t c = 0; c < document.CategoryCount(); ++c) {
      for (uint32_t v = 0; v < document.ValueCount(c) && v < 16; ++v) {
        (void)document.ValueName(c, v);
        (void)document.ApplyFilter(c, v, FilterOperator::kLessOrEqual, FilterMode::kReplace);
      }
    }
    SearchQuery query;
    query.words[0] = "rings";
    uint64_t candidates;
    if (document.BeginSearch(query, 0, &candidates)) {
      uint32_t current = 0;
      for (int i = 0; i < 10; ++i) {
        if (document.SearchStep(SearchDirection::kForwards, 5, &current) == SearchStepResult::kFinished) break;
      }
    }
  }
}

}  // namespace
}  // namespace fvx::reader
