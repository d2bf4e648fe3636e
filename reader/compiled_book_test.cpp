// Pages, searches and filters over books made by the project's own compiler.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "compiler/app/testing/compile_for_test.h"
#include "reader/book_document.h"
#include "reader/page_renderer.h"
#include "reader/picture_files.h"
#include "reader/text_matcher.h"

namespace fvx::reader {
namespace {

using compiler::testing::CompiledBook;
using compiler::testing::CompileSource;

struct OpenedBook {
  CompiledBook compiled;
  std::unique_ptr<BookDocument> document;
};

OpenedBook Compile(const std::string& source) {
  OpenedBook book;
  book.compiled = CompileSource(source);
  EXPECT_TRUE(book.compiled.ok);
  book.document = std::make_unique<BookDocument>();
  OpenCode code;
  EXPECT_TRUE(book.document->Open(book.compiled.book_path, &code)) << book.document->OpenFailure();
  return book;
}

std::string Body(BookDocument& document, uint32_t subject, uint32_t jump = 0,
                 bool highlight = false) {
  std::string body;
  EXPECT_TRUE(document.RenderBody(subject, jump, highlight, std::nullopt, nullptr, &body, nullptr));
  return body;
}

const std::string kStart(kBodyStartComment);

const char kElements[] =
    "<catdef> name=\"Colour\" type=string values=red,caf\xE9 </catdef>\n"
    "<new>Elements\n"
    "<b>b</b><i>i</i><u>u</u><center>c</center><p>p<br>x<hr>\n"
    "<ul type=square><li>one<li value=3 type=a>two</ul><ol type=I start=4><li>x</ol>\n"
    "<font size=-2>m</font><font size=+3>p</font><font size=4 color=#A0B0C0 face=\"Arial\">a"
    "</font><font color=red>r</font><font>n</font>\n"
    "<table border=1><tr><td nowrap>cell</td></tr></table>\n"
    "<a href=\"Target\" anch=\"here\">in</a> <a href=\"http://example.com/x\">out</a> "
    "<a filter=\"Colour = caf\xE9\">f</a> <a href=\"Missing\">gone</a>\n"
    "&lt;&gt;&nbsp;&amp;&#65;&eacute;\xFF\n"
    "<img src=\"nothing.png\" width=10 align=left alt=\"No picture\">\n"
    "<pre>a\nb</pre>end\n"
    "<new>Empty\n"
    "<new>Target\n"
    "Before <a name=\"here\">anchor</a> after.\n";

TEST(CompiledBook, EveryElementFragment) {
  OpenedBook book = Compile(kElements);
  BookDocument& document = *book.document;
  ASSERT_EQ(document.SubjectCount(), 3u);
  EXPECT_EQ(Body(document, 0),
            kStart +
                "<b>b</b><i>i</i><u>u</u><center>c</center><p>p<br>x<hr><br>"
                "<ul type=\"s\"><li>one<li start=\"3\" type=\"a\">two</ul>"
                "<ol type=\"I\" start=\"4\"><li>x</ol><br>"
                "<font size=\"-2\">m</font><font size=\"+3\">p</font>"
                "<font face=\"Arial\" size=\"4\" color=\"A0B0C0\">a</font>"
                "<font color=\"FF0000\">r</font><font>n</font><br>"
                "<table class=fvx_background_style  border=\"1\"><tr><td nowrap>cell</td></tr>"
                "</table><br>"
                "<a href = \"fvxapp://<0:2:7>\">in</a> "
                "<a href = \"fvxapp://<4:0:0>http://example.com/x\">out</a> "
                "<a href = \"fvxapp://<5:0:0>436F6C6F7572203D20636166E9\">f</a> gone<br>"
                "&lt;&gt;&nbsp;&amp;&#65;&eacute;&#255;<br>"
                "<img alt= \"No picture\" width = \"10\" border = \"0\" align = \"left\"><br>"
                "<pre>a\nb</pre>end<br>");
  // The empty subject renders the start comment alone.
  EXPECT_EQ(Body(document, 1), kStart);
}

TEST(CompiledBook, TheBuiltInTemplateAroundABody) {
  OpenedBook book = Compile(kElements);
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(book.document->RenderPage(2, 0, 0, 0, false, &pictures, &page));
  const std::string expected_tail =
      "<body>\n\n\n\n\n<center><span class=\"masterTextStyleHeading\">Target</span></center><br>\n" +
      kStart + "Before anchor</a> after.<br>\n</body>\n</html>\n";
  ASSERT_GE(page.size(), expected_tail.size());
  EXPECT_EQ(page.substr(page.size() - expected_tail.size()), expected_tail);
  EXPECT_EQ(page.rfind("<html>", 0), 0u);
  // A row beyond the subjects renders nothing.
  page.clear();
  EXPECT_FALSE(book.document->RenderPage(3, 0, 0, 0, false, &pictures, &page));
  EXPECT_TRUE(page.empty());
}

TEST(CompiledBook, JumpAnchorsAtLinkTargets) {
  OpenedBook book = Compile(kElements);
  // The link of subject 0 goes to subject 2 at position 7.
  EXPECT_EQ(Body(*book.document, 2, 7),
            kStart + "Before <a name=\"FvxAutoJumpAnchor_7\">anchor</a> after.<br>");
  // A bookmark after 6 visible characters lands on the same byte.
  std::string body;
  uint32_t position = 0;
  ASSERT_TRUE(book.document->RenderBody(2, 0, false, 6, nullptr, &body, &position));
  EXPECT_EQ(position, 7u);
  EXPECT_EQ(book.document->PositionOfVisibleCount(2, 6), 7u);
  EXPECT_EQ(book.document->PositionOfVisibleCount(2, 0), 0u);
  EXPECT_FALSE(book.document->PositionOfVisibleCount(3, 1).has_value());
}

TEST(CompiledBook, HitsInThreeHighlights) {
  OpenedBook book = Compile(
      "<new>Moons\nIo and <b>Europa</b> circle Jupiter; io is hot.\n<new>Other\nnothing\n");
  SearchQuery query;
  query.words = {"io", "europa", "JUPITER"};
  uint64_t candidates;
  ASSERT_TRUE(book.document->BeginSearch(query, 0, &candidates));
  uint32_t current = 9;
  ASSERT_EQ(book.document->SearchStep(SearchDirection::kForwards, 5, &current),
            SearchStepResult::kFound);
  EXPECT_EQ(current, 0u);
  EXPECT_EQ(Body(*book.document, 0, 0, true),
            kStart +
                "<a name=\"findloc\"></a><span class=\"fvxsearchHLFFFF00\">Io</span> and <b>"
                "<span class=\"fvxsearchHL00FFFF\">Europa</span></b> circle "
                "<span class=\"fvxsearchHL7FFF00\">Jupiter</span>; "
                "<span class=\"fvxsearchHLFFFF00\">io</span> is hot.<br>");
}

TEST(CompiledBook, BreadcrumbOfAHierarchicalBook) {
  OpenedBook book = Compile(
      "<catdef> name=\"FvxChildOf\" internal=yes </catdef>\n"
      "<new>Animals\nAll.\n<catset> FvxChildOf=root </catset>\n"
      "<new>Cats\nSmall and large.\n<catset> FvxChildOf=Animals </catset>\n"
      "<new>Lions\nLarge.\n<catset> FvxChildOf=Cats </catset>\n"
      "<new>Plants\nGreen.\n<catset> FvxChildOf=root </catset>\n");
  BookDocument& document = *book.document;
  ASSERT_TRUE(document.IsTreeMode());
  EXPECT_EQ(document.Results(), (std::vector<uint32_t>{0, 3}));
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(document.RenderPage(0, 0, 0, 0, false, &pictures, &page));
  EXPECT_EQ(page.find("<div class=\"bg\">"), std::string::npos);  // at the root: no path

  ASSERT_TRUE(document.GoToChildrenOfSubject(1));
  EXPECT_EQ(document.Results(), (std::vector<uint32_t>{2}));
  page.clear();
  ASSERT_TRUE(document.RenderPage(0, 0, 0, 0, false, &pictures, &page));
  EXPECT_NE(page.find("<div class=\"bg\"><a href=\"fvxapp://<6:0:0>\">Animals</a>"
                      "<span class=\"seperator\">\xBB</span>"
                      "<a href=\"fvxapp://<6:1:0>\">Cats</a></div>\n<center>"),
            std::string::npos);
  EXPECT_NE(page.find("Lions"), std::string::npos);
}

TEST(CompiledBook, FiltersAndSelections) {
  OpenedBook book = Compile(
      "<catdef> name=\"Colour\" type=string multiple=yes values=red,green,Blue </catdef>\n"
      "<catdef> name=\"Price\" type=numeric precision=2 premod=\"$\" </catdef>\n"
      "<selection> name=\"Reds\" query=Colour=red </selection>\n"
      "<new>Apple\nA.\n<catset> Colour=green,red Price=1 </catset>\n"
      "<new>Mango\nM.\n<catset> Colour=green Price=12345.5 </catset>\n"
      "<new>Zebra\nZ.\n<catset> Colour=Blue Price=3.5 </catset>\n");
  BookDocument& document = *book.document;
  EXPECT_EQ(document.ValueName(1, 2), "$ 12,345.50");
  ASSERT_TRUE(document.RunFilterExpression("colour = GREEN<AND>Price < 3.5"));
  EXPECT_EQ(document.Results(), (std::vector<uint32_t>{0}));
  ASSERT_TRUE(document.RunFilterExpression("Colour = blue<OR>Price >= 12345.5"));
  EXPECT_EQ(document.Results(), (std::vector<uint32_t>{1, 2}));
  EXPECT_FALSE(document.RunFilterExpression("Colour = purple"));
  ASSERT_EQ(document.SelectionCount(), 1u);
  ASSERT_TRUE(document.ApplyListRow(0, 0, FilterMode::kReplace));
  EXPECT_EQ(document.Results(), (std::vector<uint32_t>{0}));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The index never hides a match on a compiled book: searching through it
// finds what matching every subject finds, for random words, whole or not.
void ExpectIndexAgreesWithAScan(BookDocument& document, size_t least_narrowed) {
  const uint32_t n = document.SubjectCount();
  std::vector<std::string> texts(n);
  for (uint32_t s = 0; s < n; ++s) {
    ASSERT_TRUE(document.LoadSubject(s));
    texts[s] = std::string(document.CurrentText());
  }
  std::mt19937 random(9);
  size_t narrowed = 0;
  for (int round = 0; round < 200; ++round) {
    const std::string& text = texts[random() % n];
    if (text.size() < 10) continue;
    std::string word = text.substr(random() % (text.size() - 8), 1 + random() % 7);
    if (word.find('\xFF') != std::string::npos) continue;
    SearchQuery query;
    query.words[0] = word;
    query.whole_words = round % 2 == 0;
    query.find_all = true;
    std::vector<uint32_t> expected;
    TextMatcher matcher(query, false);
    for (uint32_t s = 0; s < n; ++s) {
      matcher.Reset();
      matcher.Feed(texts[s]);
      matcher.Finish();
      if (matcher.Verdict()) expected.push_back(s);
    }
    document.ClearResults();
    uint64_t candidates;
    ASSERT_TRUE(document.BeginSearch(query, 0, &candidates));
    uint32_t current;
    while (document.SearchStep(SearchDirection::kForwards, 50, &current) !=
           SearchStepResult::kFinished) {
    }
    document.EndSearch();
    const std::vector<uint32_t> found = document.HasResults() ? document.Results() : std::vector<uint32_t>{};
    ASSERT_EQ(found, expected) << "'" << word << "' whole " << query.whole_words;
    if (candidates < n) ++narrowed;
  }
  EXPECT_GE(narrowed, least_narrowed);
}

TEST(CompiledBook, TheIndexNeverHidesAMatchInAGeneratedBook) {
  OpenedBook book = Compile(compiler::testing::GeneratedSource(1500, 30, 5));
  ExpectIndexAgreesWithAScan(*book.document, 20);
}

TEST(CompiledBook, TheIndexNeverHidesAMatchInTheSampleBook) {
  compiler::testing::TestCompile how;
  how.options.skip_pictures = true;  // pictures need the image library
  how.file_name = "solar_system.txt";
  OpenedBook book;
  book.compiled = CompileSource(ReadFile(FVX_SOURCE_DIR "/examples/solar_system.txt"), how);
  ASSERT_TRUE(book.compiled.ok);
  book.document = std::make_unique<BookDocument>();
  OpenCode code;
  ASSERT_TRUE(book.document->Open(book.compiled.book_path, &code));
  EXPECT_GT(book.document->SubjectCount(), 40u);
  ExpectIndexAgreesWithAScan(*book.document, 5);
}

}  // namespace
}  // namespace fvx::reader
