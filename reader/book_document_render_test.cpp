#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bookformat/coding.h"
#include "bookformat/testing/test_book.h"
#include "reader/book_document.h"
#include "reader/page_renderer.h"
#include "reader/picture_files.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::BuildTestBook;
using testing::Element;
using testing::TestBookSpec;
using testing::U32;

std::string FileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Picture(uint32_t id) {
  return Element(22, U32(id) + U32(0) + U32(0) + U32(0) + U32(9) + std::string("alt\0", 4));
}

TestBookSpec PictureBook() {
  TestBookSpec spec = testing::SimpleBook({"One " + Picture(0) + Picture(0) + Picture(1),
                                           "Two " + Picture(0) + Picture(7)});
  spec.pictures = {{"\x89PNG one", "", 4, 4}, {"\xFF\xD8 two", "tiny", 4, 4}, {"GIF8", "", 1, 1}};
  return spec;
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/fvx_reader_pictures_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TemporaryFolder() {
    const std::string command = "rm -rf '" + path_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::unique_ptr<BookDocument> Open(const TestBookSpec& spec) {
  auto document = std::make_unique<BookDocument>();
  OpenCode code;
  EXPECT_TRUE(document->OpenBytes(BuildTestBook(spec), "pictures.fvx", &code));
  return document;
}

TEST(PicturePages, EachPageBuildNamesItsOwnFilesWrittenAfterTheHtml) {
  TemporaryFolder folder;
  auto document = Open(PictureBook());
  PictureFiles files(folder.path());
  std::string first, second;
  {
    PictureMap pictures(&files);
    ASSERT_TRUE(document->RenderBody(0, 0, false, std::nullopt, &pictures, &first, nullptr));
    ASSERT_EQ(pictures.entries().size(), 2u);  // picture 0 twice in one page: one file
    const std::string png = pictures.entries()[0].second;
    const std::string jpg = pictures.entries()[1].second;
    EXPECT_EQ(png.substr(png.size() - 4), ".png");
    EXPECT_EQ(jpg.substr(jpg.size() - 4), ".jpg");
    EXPECT_EQ(png.rfind(folder.path() + "/fvxtmp_", 0), 0u);
    EXPECT_EQ(FileContents(png), "");  // named, not yet written
    EXPECT_NE(first.find("<img src= \"" + png + "\" border = \"0\"><img src= \"" + png), std::string::npos);
    EXPECT_TRUE(document->WritePictures(pictures));
    EXPECT_EQ(FileContents(png), "\x89PNG one");
    EXPECT_EQ(FileContents(jpg), "\xFF\xD8 two");  // the full version, not the small one
  }
  {
    PictureMap pictures(&files);
    ASSERT_TRUE(document->RenderBody(1, 0, false, std::nullopt, &pictures, &second, nullptr));
    ASSERT_EQ(pictures.entries().size(), 1u);  // picture 7 does not exist: its alt text
    EXPECT_NE(second.find("<img alt= \"alt\" border = \"0\">"), std::string::npos);
    EXPECT_TRUE(document->WritePictures(pictures));
  }
  // The second page's picture 0 got a file of its own.
  ASSERT_EQ(files.paths().size(), 3u);
  EXPECT_NE(files.paths()[0], files.paths()[2]);
  EXPECT_EQ(FileContents(files.paths()[2]), "\x89PNG one");
  const std::vector<std::string> made = files.paths();
  files.DeleteAll();
  for (const std::string& path : made) EXPECT_NE(::access(path.c_str(), F_OK), 0) << path;
}

TEST(PicturePages, ANamerGivesAddressesAndNoFileIsMade) {
  auto document = Open(PictureBook());
  std::vector<std::pair<uint32_t, int>> asked;
  PictureMap pictures([&](uint32_t picture, int kind) -> std::optional<std::string> {
    asked.emplace_back(picture, kind);
    return "/pictures/" + std::to_string(picture);
  });
  std::string page;
  ASSERT_TRUE(document->RenderBody(0, 0, false, std::nullopt, &pictures, &page, nullptr));
  EXPECT_EQ(asked, (std::vector<std::pair<uint32_t, int>>{{0, 1}, {1, 2}}));  // once per picture
  EXPECT_NE(page.find("<img src= \"/pictures/0\" border = \"0\"><img src= \"/pictures/0\""),
            std::string::npos);
  EXPECT_NE(page.find("<img src= \"/pictures/1\""), std::string::npos);
}

TEST(PicturePages, NamesTakenBySomeoneElseAreSkipped) {
  TemporaryFolder folder;
  PictureFiles probe(folder.path());
  const std::optional<std::string> first = probe.Reserve(1);
  ASSERT_TRUE(first.has_value());
  // Put the next few names in the way, as another reader would.
  const int next = std::stoi(first->substr(first->rfind('_') + 1));
  for (int n = next + 1; n <= next + 3; ++n) {
    std::ofstream(folder.path() + "/fvxtmp_" + std::to_string(n) + ".png") << "other";
  }
  const std::optional<std::string> taken = probe.Reserve(1);
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(*taken, folder.path() + "/fvxtmp_" + std::to_string(next + 4) + ".png");
  EXPECT_EQ(FileContents(folder.path() + "/fvxtmp_" + std::to_string(next + 1) + ".png"), "other");
  PictureFiles nowhere("/nonexistent/folder");
  EXPECT_FALSE(nowhere.Reserve(2).has_value());
}

TEST(CoverPages, FrontAndBackWithTheStyleSheet) {
  TemporaryFolder folder;
  TestBookSpec spec = PictureBook();
  spec.front_cover = 1;
  spec.front_cover_title = "Front";
  spec.back_cover = 2;
  spec.background_colour = 0xFFFFE0;
  auto document = Open(spec);
  ASSERT_EQ(document->PageCount(), 4u);
  PictureFiles files(folder.path());
  PageStyle style;
  style.font_face = "Verdana";
  style.font_size = 10;
  document->SetPageStyle(style);
  PictureMap pictures(&files);
  std::string page;
  ASSERT_TRUE(document->RenderPage(0, 0, 0, 0, false, &pictures, &page));
  ASSERT_EQ(pictures.entries().size(), 1u);
  const std::string path = pictures.entries()[0].second;
  EXPECT_EQ(page,
            "<html><head><style title=\"fvx_background_style_sheet\">.fvx_background_style{"
            "background-color: #ffffe0;color: #000000;font-family: \"Verdana\";font-size: 10pt;}"
            "</style></head><body class=fvx_background_style><table border = \"0\" width = "
            "\"100%\" height =\"100%\"><tr><td valign = middle align = center><img align=\"center\" "
            "src= \"file://" + path + "\"></td></tr></table></body></html>");
  EXPECT_TRUE(document->WritePictures(pictures));
  EXPECT_EQ(FileContents(path), "\xFF\xD8 two");

  // The back cover, with the book's tiled background picture.
  spec.background_tile = 0;
  spec.text_colour = 0x334455;
  document = Open(spec);
  PictureMap back(&files);
  page.clear();
  ASSERT_TRUE(document->RenderPage(3, 0, 0, 0, false, &back, &page));
  ASSERT_EQ(back.entries().size(), 2u);
  EXPECT_NE(page.find("background-image: url(" + back.entries()[0].second + ");color: #334455;"),
            std::string::npos);
  EXPECT_NE(page.find("src= \"file://" + back.entries()[1].second + "\""), std::string::npos);
  EXPECT_EQ(back.entries()[1].second.substr(back.entries()[1].second.size() - 4), ".bmp");
  EXPECT_EQ(document->RowTitle(0), "Front");
  EXPECT_EQ(document->RowTitle(3), "");
}

TEST(TemplatePages, CategoryBlocksFromTheDocument) {
  TestBookSpec spec = testing::SimpleBook({"x", "y"});
  testing::TestCategory size;
  size.name = "Size";
  size.flags = 0x1;
  size.numbers = {2.5, 12345};
  size.precision = 1;
  size.suffix = "m";
  size.values_of_subject = {{1}, {}};
  testing::TestCategory tags;
  tags.name = "Tags";
  tags.flags = 0x2;
  tags.names = {"a", "b", "c"};
  tags.values_of_subject = {{0, 2}, {1}};
  testing::TestCategory hidden;
  hidden.name = "Hidden";
  hidden.flags = 0x8;
  hidden.names = {"h"};
  hidden.values_of_subject = {{0}, {0}};
  spec.categories = {size, hidden, tags};
  auto document = Open(spec);
  document->SetTemplate(
      "<fvxdoc_heading>:<fvxdoc_catinfo><fvxdoc_cat>[<fvxdoc_catid> <fvxdoc_catname>"
      "<fvxdoc_multival>*</fvxdoc_multival><fvxdoc_catvalinfo><fvxdoc_catval> "
      "<fvxdoc_catvalid>=<fvxdoc_catvalname></fvxdoc_catval></fvxdoc_catvalinfo>]</fvxdoc_cat>"
      "</fvxdoc_catinfo>|<fvxdoc_jmppos>/<fvxdoc_pglen>");
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(document->RenderPage(0, 0, 11, 22, false, &pictures, &page));
  EXPECT_EQ(page, "Subject 000:[0 Size 1=12,345.0 m][1 Tags* 0=a 2=c]|11/22");
  page.clear();
  ASSERT_TRUE(document->RenderPage(1, 0, 0, 0, false, &pictures, &page));
  EXPECT_EQ(page, "Subject 001:[1 Tags 1=b]|0/0");
}

TEST(TemplatePages, ASubjectOutsideTheListRendersAsItsRowWould) {
  TestBookSpec spec = testing::SimpleBook({"first", "second", "third"});
  spec.selections = {{"outer", {0, 2}}};
  auto document = Open(spec);
  PictureMap pictures(nullptr);
  std::string by_row;
  ASSERT_TRUE(document->RenderPage(1, 0, 0, 0, false, &pictures, &by_row));
  // A result list that leaves subject 1 out: it still renders on its own.
  ASSERT_TRUE(document->ApplyListRow(0, 0, FilterMode::kReplace));
  ASSERT_FALSE(document->RowOfSubject(1).has_value());
  std::string by_subject;
  ASSERT_TRUE(document->RenderSubjectPage(1, 0, 0, 0, false, &pictures, &by_subject));
  EXPECT_EQ(by_subject, by_row);
  EXPECT_FALSE(document->RenderSubjectPage(3, 0, 0, 0, false, &pictures, &by_subject));
}

TEST(TemplatePages, AnUnreadableSubjectRendersNothing) {
  std::string book = BuildTestBook(testing::SimpleBook({"some text to lose", "more"}));
  BookDocument probe;
  OpenCode code;
  ASSERT_TRUE(probe.OpenBytes(book, "x.fvx", &code));
  // Damage the compressed text block (its first entry names where it lies).
  const uint32_t start = format::LoadU32(reinterpret_cast<const uint8_t*>(book.data() + 78));
  const uint64_t table = probe.layout().texts.text_table;
  const uint32_t block = format::LoadU32(reinterpret_cast<const uint8_t*>(book.data() + start + table));
  book[start + block + 4] = static_cast<char>(book[start + block + 4] ^ 0xFF);
  BookDocument document;
  ASSERT_TRUE(document.OpenBytes(book, "x.fvx", &code));
  PictureMap pictures(nullptr);
  std::string page = "previous";
  EXPECT_FALSE(document.RenderPage(0, 0, 0, 0, false, &pictures, &page));
  EXPECT_FALSE(document.RenderPage(7, 0, 0, 0, false, &pictures, &page));
  EXPECT_EQ(page, "previous");
  EXPECT_FALSE(document.CurrentSubject().has_value());
  // The heading still reads: the document stays usable.
  EXPECT_EQ(document.Heading(1), "Subject 001");
}

}  // namespace
}  // namespace fvx::reader
