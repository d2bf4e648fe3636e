#include "reader/page_template.h"

#include <gtest/gtest.h>

namespace fvx::reader {
namespace {

using P = TemplatePiece;

TEST(PageTemplate, SplitsLiteralsAndTags) {
  const PageTemplate t = ParseTemplate("<p><fvxdoc_heading></p>< / fvxdoc_cat >x< fvxdoc_para >");
  const PieceList expected = {P::Literal("<p>"), P::Tag(TemplateTag::kHeading, false),
                              P::Literal("</p>"), P::Tag(TemplateTag::kCat, true),
                              P::Literal("x"), P::Tag(TemplateTag::kPara, false)};
  EXPECT_EQ(t.main, expected);
}

TEST(PageTemplate, UnknownNamesAndCommentsStayText) {
  const std::string text =
      "<fvxdoc_nosuch><fvxdoc_headingx><!-- <fvxdoc_para> --><fvxdoc_para";
  const PageTemplate t = ParseTemplate(text);
  ASSERT_EQ(t.main.size(), 1u);
  EXPECT_EQ(t.main[0], P::Literal(text));
}

TEST(PageTemplate, HighlightBlocksLeaveTheMainList) {
  const PageTemplate t = ParseTemplate(
      "a<fvxdoc_highlight2>\n  <span class=\"x\"> <fvxdoc_highlightword> <fvxdoc_heading>"
      "</span>  \n</fvxdoc_highlight2>b</fvxdoc_highlight1>c");
  const PieceList main = {P::Literal("a"), P::Literal("b"), P::Literal("c")};
  EXPECT_EQ(t.main, main);
  const PieceList block = {P::Literal("<span class=\"x\">"),
                           P::Tag(TemplateTag::kHighlightWord, false), P::Literal("</span>")};
  EXPECT_EQ(t.highlight[1], block);
  EXPECT_TRUE(t.highlight[0].empty());
  EXPECT_TRUE(t.highlight[2].empty());
}

TEST(PageTemplate, ABlockOpenedAgainStartsEmpty) {
  const PageTemplate t = ParseTemplate(
      "<fvxdoc_highlight1>one</fvxdoc_highlight1><fvxdoc_highlight1>two</fvxdoc_highlight1>");
  ASSERT_EQ(t.highlight[0].size(), 1u);
  EXPECT_EQ(t.highlight[0][0], P::Literal("two"));
}

TEST(PageTemplate, BuiltInTemplateHasTheShippedParts) {
  const std::string_view text = BuiltInPageTemplate();
  for (const char* part :
       {"<style title=\"fvx_search_style_sheet\">", ".fvxsearchHLFFFF00", "#FFFF00",
        ".fvxsearchHL00FFFF", "#00FFFF", ".fvxsearchHL7FFF00", "#7FFF00", ".bg", "#EBF7FC",
        "#003399", "#FF3300", ".seperator", ".masterTextStyleHeading", "#C11710",
        "res://Folivox3.exe/HTMLRES/HandDefault.cur", ".onClick", ".default", "a.catvallinks"}) {
    EXPECT_NE(text.find(part), std::string_view::npos) << part;
  }
  const PageTemplate t = ParseTemplate(text);
  for (int block = 0; block < 3; ++block) {
    ASSERT_EQ(t.highlight[block].size(), 3u) << block;
    EXPECT_EQ(t.highlight[block][1], P::Tag(TemplateTag::kHighlightWord, false));
  }
  EXPECT_EQ(t.highlight[0][0], P::Literal("<span class=\"fvxsearchHLFFFF00\">"));
  EXPECT_EQ(t.highlight[1][0], P::Literal("<span class=\"fvxsearchHL00FFFF\">"));
  EXPECT_EQ(t.highlight[2][0], P::Literal("<span class=\"fvxsearchHL7FFF00\">"));
  std::vector<TemplateTag> tags;
  for (const TemplatePiece& piece : t.main) {
    if (piece.is_tag) tags.push_back(piece.tag);
  }
  EXPECT_EQ(tags, (std::vector<TemplateTag>{TemplateTag::kBreadcrumb, TemplateTag::kHeading,
                                            TemplateTag::kPara}));
}

}  // namespace
}  // namespace fvx::reader
