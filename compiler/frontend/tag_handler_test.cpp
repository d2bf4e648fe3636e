#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

std::string Body(const std::string& body) {
  FrontEndRun run("<new>S\n" + body);
  EXPECT_TRUE(run.parsed) << body;
  EXPECT_TRUE(run.Problems().empty()) << body << ": " << (run.Problems().empty() ? "" : run.Problems()[0]);
  return run.Text(1);
}

TEST(TagHandlerTest, KnownTagsTheirCodesAndClosingForms) {
  EXPECT_EQ(Body("<B><I><U><CENTER><P><BR><HR><PRE>"),
            Element(4) + Element(6) + Element(8) + Element(10) + Element(12) + Element(13) +
                Element(14) + Element(25));
  EXPECT_EQ(Body("</b></i></u></center></p></br></hr></pre></ul></ol></li></font></img></a>"),
            Element(5) + Element(7) + Element(9) + Element(11) + Element(3) + Element(3) +
                Element(3) + Element(26) + Element(16) + Element(18) + Element(3) + Element(21) +
                Element(3) + Element(2));
  // Other properties of a known tag pass through in the order written.
  EXPECT_EQ(Body("<p align=center Class=\"x y\" hidden>"),
            Element(12, Z("align") + Z("center") + Z("Class") + Z("x y") + Z("hidden") + Z("")));
  EXPECT_EQ(Body("<strike>s</strike>"), Element(23, Z("strike")) + "s" + Element(24, "strike"));
  EXPECT_EQ(Body("<br/>"), Element(13));
}

TEST(TagHandlerTest, ListPayloads) {
  EXPECT_EQ(Body("<ul>"), Element(15, "d"));
  EXPECT_EQ(Body("<ul type=SQUARE id=1>"), Element(15, "s" + Z("id") + Z("1")));
  EXPECT_EQ(Body("<ol>"), Element(17, "l" + U32(1)));
  EXPECT_EQ(Body("<ol type=I start=#10>"), Element(17, "I" + U32(16)));
  EXPECT_EQ(Body("<li>"), Element(19, std::string(1, '\0')));
  EXPECT_EQ(Body("<li value=7>"), Element(19, "\x01" + U32(7)));
  EXPECT_EQ(Body("<li type=a value=3>"), Element(19, "\x03" + U32(3) + "a"));
}

TEST(TagHandlerTest, FontPayload) {
  EXPECT_EQ(Body("<font>"), Element(20, U32(0xF0000000) + U32(0xFF000000) + Z("")));
  EXPECT_EQ(Body("<font size=3 color=#102030 face=\"Times New\">"),
            Element(20, U32(0xF0000003) + U32(0x102030) + Z("Times New")));
  EXPECT_EQ(Body("<font size=+2 color=red>"), Element(20, U32(2) + U32(0xFF0000) + Z("")));
  EXPECT_EQ(Body("<font size=-1 style=x>"),
            Element(20, U32(0x0F000001) + U32(0xFF000000) + Z("") + Z("style") + Z("x")));
}

TEST(TagHandlerTest, PicturePayloadAndRow) {
  FrontEndRun run(
      "<new>S\n<img src=\"pics/a.png\" width=10 height=#20 border=1 align=Bottom alt=\"A pic\" "
      "sketch=yes>\n<img alt=none quality=5 resizewidth=200 smallversion=no>");
  ASSERT_TRUE(run.parsed);
  EXPECT_TRUE(run.Problems().empty());
  std::string first = Element(22, U32(1) + U32(10) + U32(32) + U32(1) + U32(8) + Z("A pic") +
                                       Z("sketch") + Z("yes"));
  std::string second = Element(22, U32(0xFFFFFFFF) + U32(0) + U32(0) + U32(0) + U32(0) + Z("none"));
  EXPECT_EQ(run.Text(1), first + "\n" + second);
  EXPECT_EQ(run.Rows("SELECT ROWID,Src,Flags,ResizeWidth,ResizeHeight,Line,Column FROM tbl_Images"),
            std::vector<std::string>{"1|pics/a.png|3|0|0|2|2"});
  FrontEndRun resized("<new>S\n<img src=b.jpg resizewidth=200 resizeheight=100 sketch=no>");
  EXPECT_EQ(resized.Rows("SELECT Src,Flags,ResizeWidth,ResizeHeight FROM tbl_Images"),
            std::vector<std::string>{"b.jpg|2|200|100"});
}

TEST(TagHandlerTest, PropertyChecksRefuseTheTag) {
  FrontEndRun run(
      "<new>S\n<img sketch=maybe>\n<ul type=round>\n<ol start=x>\n<img src>\n<font color=nocolour>");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Problems(),
            (std::vector<std::string>{
                "[ Warning ] Line 2 : Col 18 : { <img... sketch = maybe ...> } Trying to assign an "
                "unknown value \"maybe\" for \"sketch\". Possible values are yes,no.",
                "[ Warning ] Line 2 : Col 18 : Malformed tag syntax. Treated as raw text.",
                "[ Warning ] Line 3 : Col 15 : { <ul... type = round ...> } Trying to assign an "
                "unknown value \"round\" for \"type\". Possible values are circle,disc,square.",
                "[ Warning ] Line 3 : Col 15 : Malformed tag syntax. Treated as raw text.",
                "[  Error  ] Line 4 : Col 12 : { <ol... start = x ...> }  Numerical value "
                "expected for \"start\".",
                "[ Warning ] Line 4 : Col 12 : Malformed tag syntax. Treated as raw text.",
                "[  Error  ] Line 5 : Col 9 : { <img... src ...> } The property \"src\" must have "
                "a value.",
                "[ Warning ] Line 5 : Col 9 : Malformed tag syntax. Treated as raw text.",
                "[  Error  ] Line 6 : Col 21 : Bad color value \"nocolour\".",
                "[ Warning ] Line 6 : Col 21 : Malformed tag syntax. Treated as raw text.",
            }));
  EXPECT_EQ(run.Text(1),
            "<img sketch=maybe>\n<ul type=round>\n<ol start=x>\n<img src>\n<font color=nocolour>");
  EXPECT_EQ(run.Column("SELECT COUNT(*) FROM tbl_Images"), "0");
}

TEST(TagHandlerTest, LinksAndAnchorsRows) {
  FrontEndRun run(
      "<new>Earth\nab<a name=top>T</a> <a href=\"Mars\" anch=\"north\" target=_top>m</a>"
      "<a href=Moon name=here>x</a><a>Earth</a>\n"
      "<new>Mars\n<a href=\"http://example.org/x\">w</a><a href=file:/c>f</a>"
      "<a filter=\"Mass &gt; 5\">f</a><a>self</a><a anch=top>s</a>");
  ASSERT_TRUE(run.parsed);
  EXPECT_TRUE(run.Problems().empty()) << run.Problems()[0];
  EXPECT_EQ(run.Text(1), "abT" + Element(2) + " " +
                             Element(1, U32(1) + U32(0) + Z("target") + Z("_top")) + "m" +
                             Element(2) + Element(1, U32(2) + U32(0)) + "x" + Element(2) +
                             Element(1, U32(3) + U32(0)) + "Earth" + Element(2) + "\n");
  EXPECT_EQ(run.Text(2), Element(34, Z("http://example.org/x")) + "w" + Element(2) +
                             Element(34, Z("file:/c")) + "f" + Element(2) +
                             Element(35, Z("Mass &gt; 5")) + "f" + Element(2) +
                             Element(1, U32(4) + U32(0)) + "self" + Element(2) +
                             Element(1, U32(5) + U32(0)) + "s" + Element(2));
  EXPECT_EQ(run.Rows("SELECT ROWID,HRef,Anchor,Line,Column FROM tbl_Links"),
            (std::vector<std::string>{"1|Mars|north|2|22", "2|Moon||2|67", "3|Earth||2|95",
                                      "4|self||4|88", "5|Mars|top|4|99"}));
  EXPECT_EQ(run.Rows("SELECT Name,ParaID,ParaHeading,Offset,Line,Column FROM tbl_Anchors"),
            (std::vector<std::string>{"top|1|Earth|2|2|4", "here|1|Earth|43|2|67"}));
}

TEST(TagHandlerTest, SimpleLinkMessages) {
  FrontEndRun empty("<new>S\n<a></a>x");
  EXPECT_EQ(empty.Problems(), std::vector<std::string>{"[ Warning ] Line 2 : Col 4 : Empty link. Ignored."});
  EXPECT_EQ(empty.Text(1), "x");
  FrontEndRun open("<new>S\n<a>Mars<b>x</a>");
  EXPECT_EQ(open.Problems().front(),
            "[ Warning ] Line 2 : Col 9 : Seems that simple link hasn't closed.");
  FrontEndRun cut("<new>S\n<a>Mars<new>T\n");
  EXPECT_TRUE(cut.Has(Level::kWarning, "Line 2 : Col 9 : Seems that simple link hasn't closed."));
  EXPECT_EQ(cut.Heading(2), "T");
}

TEST(TagHandlerTest, Entities) {
  EXPECT_EQ(Body("&lt;&GT;&nbsp;&amp;&copy;x&#169;&#xA9;&#A9;&169;&#10"),
            Element(27) + Element(28) + Element(29) + Element(30) + Element(32, "copy") + "x" +
                Element(31, U32(169)) + Element(31, U32(0xA9)) + Element(31, U32(0xA9)) +
                Element(31, U32(169)) + Element(31, U32(10)));
  EXPECT_EQ(Body("Smith & Jones &"), "Smith " + Element(30) + " Jones " + Element(30));
  EXPECT_EQ(Body("a&b c"), "a" + Element(32, "b") + " c");
}

TEST(TagHandlerTest, NumberReaders) {
  int64_t value = 0;
  char sign = 0;
  EXPECT_TRUE(CParser::ParsePropertyNumber("42", value, sign));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(CParser::ParsePropertyNumber("#1F", value, sign));
  EXPECT_EQ(value, 31);
  EXPECT_TRUE(CParser::ParsePropertyNumber("-3", value, sign));
  EXPECT_EQ(sign, '-');
  EXPECT_FALSE(CParser::ParsePropertyNumber("12px", value, sign));
  EXPECT_FALSE(CParser::ParsePropertyNumber("#", value, sign));
  EXPECT_FALSE(CParser::ParsePropertyNumber("99999999999", value, sign));
  uint32_t n = 0;
  EXPECT_TRUE(CParser::ParseEntityNumber("#169", n));
  EXPECT_EQ(n, 169u);
  EXPECT_TRUE(CParser::ParseEntityNumber("#x169", n));
  EXPECT_EQ(n, 0x169u);
  EXPECT_TRUE(CParser::ParseEntityNumber("#1f", n));
  EXPECT_EQ(n, 0x1Fu);
  EXPECT_FALSE(CParser::ParseEntityNumber("#x", n));
  EXPECT_FALSE(CParser::ParseEntityNumber("#g1", n));
  EXPECT_FALSE(CParser::ParseEntityNumber("1f", n));
}

}  // namespace
}  // namespace fvx::compiler
