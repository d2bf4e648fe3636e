#include "reader/page_renderer.h"

#include <gtest/gtest.h>

#include <map>

#include "bookformat/testing/test_book.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::Element;
using testing::U32;

std::string Body(const std::string& text, const BodyOptions& options = {}) {
  std::string out;
  RenderBodyText(text, options, &out);
  return out;
}

const std::string kStart(kBodyStartComment);

TEST(Body, EmptyTextIsTheStartCommentOnly) { EXPECT_EQ(Body(""), kStart); }

TEST(Body, LineFeedsBecomeBreaksOutsidePre) {
  const std::string text = "a\nb" + Element(25) + "c\nd" + Element(26) + "e\n";
  EXPECT_EQ(Body(text), kStart + "a<br>b<pre>c\nd</pre>e<br>");
}

TEST(Body, ZeroBytesAreSkippedAndOtherBytesCopied) {
  EXPECT_EQ(Body(std::string("a\0b\x01\xFE", 5)), kStart + "ab\x01\xFE");
}

TEST(Body, ACutShortElementEndsTheBody) {
  EXPECT_EQ(Body("ab\xFF\x00\x00\x00\x09\x04x"), kStart + "ab");
}

TEST(Body, JumpAnchorStandsAtItsPositionUnclosed) {
  BodyOptions options;
  options.jump_position = 3;
  EXPECT_EQ(Body("abcdef", options), kStart + "abc<a name=\"FvxAutoJumpAnchor_3\">def");
  options.jump_position = 0;
  EXPECT_EQ(Body("abc", options), kStart + "abc");
}

TEST(Body, HitsAreWrappedInTheirHighlightBlocks) {
  const PageTemplate t = ParseTemplate(BuiltInPageTemplate());
  const std::vector<Hit> hits = {{0, 3, 0}, {4, 7, 1}, {8, 11, 2}, {12, 15, 0}};
  BodyOptions options;
  options.page_template = &t;
  options.hits = &hits;
  EXPECT_EQ(Body("one two six one.", options),
            kStart +
                "<a name=\"findloc\"></a><span class=\"fvxsearchHLFFFF00\">one</span> "
                "<span class=\"fvxsearchHL00FFFF\">two</span> "
                "<span class=\"fvxsearchHL7FFF00\">six</span> "
                "<span class=\"fvxsearchHLFFFF00\">one</span>.");
  // A word not shown with any highlight gets no block (but the first hit's anchor).
  options.highlight_words = {1, 2, 2};
  const std::vector<Hit> first = {{0, 3, 0}};
  options.hits = &first;
  EXPECT_EQ(Body("one", options), kStart + "<a name=\"findloc\"></a>one");
}

TEST(Body, HitsRunningToTheEndAndAcrossElementsAreClosed) {
  const PageTemplate t = ParseTemplate(BuiltInPageTemplate());
  const std::string text = "x ab" + Element(4) + "cd";
  const std::vector<Hit> hits = {{2, static_cast<uint32_t>(text.size()), 0}, {3, 4, 1}};
  BodyOptions options;
  options.page_template = &t;
  options.hits = &hits;
  EXPECT_EQ(Body(text, options), kStart +
                                     "x <a name=\"findloc\"></a><span class=\"fvxsearchHLFFFF00\">"
                                     "ab<b>cd</span>");
}

TEST(Body, VisibleLimitCountsWrittenCharactersAndEntities) {
  const std::string text = "a b\tc" + Element(27) + Element(29) + "d\re";
  // Countable: a(0) b(2) c(4) &lt;(5) d(17) e(19); tab, CR, space and &nbsp; are not.
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0, 0}, {1, 2}, {2, 4}, {3, 5}, {4, 17}, {5, 19}, {6, 20}, {100, 20}};
  ASSERT_EQ(text.size(), 20u);
  for (const auto& [limit, position] : expected) {
    BodyOptions options;
    options.visible_limit = limit;
    std::string out;
    EXPECT_EQ(RenderBodyText(text, options, &out), position) << limit;
  }
}

class FakePage : public SubjectPageSource {
 public:
  std::string Heading() override { return "Mars"; }
  bool AppendBody(std::string* out) override {
    out->append(body_ok ? "BODY" : "");
    return body_ok;
  }
  void AppendBreadcrumb(std::string* out) override { out->append("CRUMB"); }
  uint32_t VisibleCategoryCount() override { return static_cast<uint32_t>(names.size()); }
  std::string CategoryName(uint32_t k) override { return names[k]; }
  ValueList SubjectValues(uint32_t k) override { return values[k]; }
  std::string ValueName(uint32_t k, uint32_t v) override {
    return names[k] + "#" + std::to_string(v);
  }

  bool body_ok = true;
  std::vector<std::string> names = {"Moons", "Type", "Rings"};
  std::vector<ValueList> values = {{0, 1}, {}, {4}};
};

std::string Walk(const std::string& text, FakePage& page, PageNumbers numbers = {5, 6, 7}) {
  std::string out;
  EXPECT_TRUE(RenderTemplatePage(ParseTemplate(text).main, page, numbers, &out));
  return out;
}

TEST(TemplateWalk, TopLevelTags) {
  FakePage page;
  EXPECT_EQ(Walk("[<fvxdoc_heading>|<fvxdoc_para>|<fvxdoc_breadcrumb>|<fvxdoc_autojmpanch>|"
                 "<fvxdoc_jmppos>|<fvxdoc_pglen>|<fvxdoc_bkcolor><fvxdoc_catname></fvxdoc_para>]",
                 page),
            "[Mars|BODY|CRUMB|FvxAutoJumpAnchor_5|6|7|]");
  page.body_ok = false;
  std::string out;
  EXPECT_FALSE(RenderTemplatePage(ParseTemplate("<fvxdoc_para>").main, page, {}, &out));
}

TEST(TemplateWalk, CategoryBlocksRepeatPerCategoryWithValuesAndPerValue) {
  FakePage page;
  const std::string text =
      "<fvxdoc_catinfo>{<fvxdoc_cat><fvxdoc_catid>:<fvxdoc_catname>(<fvxdoc_numcatvals>)"
      "<fvxdoc_singleval>S</fvxdoc_singleval><fvxdoc_multival>M</fvxdoc_multival>"
      "<fvxdoc_catvalinfo>[<fvxdoc_catval><fvxdoc_catvalid>=<fvxdoc_catvalname>/"
      "<fvxdoc_catid></fvxdoc_catval>]</fvxdoc_catvalinfo></fvxdoc_cat>}</fvxdoc_catinfo>.";
  EXPECT_EQ(Walk(text, page),
            "{0:Moons(2)M[0=Moons#0/0][1=Moons#1/0]}{2:Rings(1)S[4=Rings#4/2]}.");
}

TEST(TemplateWalk, ACategoryBlockWithoutValuesIsSkipped) {
  FakePage page;
  page.values = {{}, {}, {}};
  EXPECT_EQ(Walk("a<fvxdoc_catinfo>X<fvxdoc_cat>Y</fvxdoc_cat></fvxdoc_catinfo>b", page), "ab");
}

TEST(Breadcrumb, LinksEachTitledEntryWithSeparators) {
  std::string out;
  AppendBreadcrumb({}, &out);
  EXPECT_EQ(out, "");
  AppendBreadcrumb({{3, "Sun"}, {9, ""}, {12, "Mars"}}, &out);
  EXPECT_EQ(out,
            "<div class=\"bg\"><a href=\"fvxapp://<6:3:0>\">Sun</a>"
            "<span class=\"seperator\">\xBB</span><a href=\"fvxapp://<6:12:0>\">Mars</a></div>");
}

TEST(StyleSheet, BackgroundRulesInOrder) {
  StyleSheetInputs inputs;
  inputs.book_open = true;
  inputs.style.background_picture = "/pics/paper.png";
  inputs.book_background_picture = "/tmp/fvxtmp_3.jpg";
  inputs.book_background_colour = 0xFFFFE0;
  auto sheet = [&] {
    std::string out;
    AppendPageStyleSheet(inputs, &out);
    return out;
  };
  const std::string tail =
      "color: #000000;font-family: \"Microsoft Sans Serif\";font-size: 12pt;}</style>";
  const std::string head = "<style title=\"fvx_background_style_sheet\">.fvx_background_style{";
  EXPECT_EQ(sheet(), head + "background-image: url(/tmp/fvxtmp_3.jpg);" + tail);
  inputs.book_background_picture.reset();
  EXPECT_EQ(sheet(), head + "background-color: #ffffe0;" + tail);
  inputs.book_background_colour.reset();
  EXPECT_EQ(sheet(), head + "background-image: url(/pics/paper.png);" + tail);
  inputs.style.background_picture.clear();
  inputs.style.background_colour = 0xABCDEF;
  inputs.style.font_face.clear();
  inputs.style.font_size = 9;
  inputs.book_text_colour = 0x102030;
  EXPECT_EQ(sheet(), head + "background-color: #abcdef;color: #102030;font-size: 9pt;}</style>");
  // Without a book its values do not count.
  inputs.book_open = false;
  inputs.book_background_colour = 0x111111;
  EXPECT_EQ(sheet(), head + "background-color: #abcdef;color: #000000;font-size: 9pt;}</style>");
}

TEST(CoverPage, PictureCentredInATable) {
  std::string out;
  AppendCoverPage("<style>S</style>", "/tmp/fvxtmp_1.png", &out);
  EXPECT_EQ(out,
            "<html><head><style>S</style></head><body class=fvx_background_style><table border = "
            "\"0\" width = \"100%\" height =\"100%\"><tr><td valign = middle align = center><img "
            "align=\"center\" src= \"file:///tmp/fvxtmp_1.png\"></td></tr></table></body></html>");
}

}  // namespace
}  // namespace fvx::reader
