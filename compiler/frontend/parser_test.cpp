#include "compiler/frontend/parser.h"

#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

TEST(ParserTest, SubjectWithBoldTagsIsRecordedByteForByte) {
  FrontEndRun run("<new>Heading\nText <b>bold</b>\n");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Heading(1), "Heading");
  EXPECT_EQ(run.Text(1), "Text " + Element(4) + "bold" + Element(5) + "\n");
  EXPECT_TRUE(run.Problems().empty());
  EXPECT_TRUE(run.Has(Level::kInformation, "Compiling subjects... "));
  EXPECT_EQ(run.Rows("SELECT ROWID,Heading,TextOffsetH,TextOffsetL,TextLength,Flags,Line,Column "
                     "FROM tbl_Para"),
            std::vector<std::string>{"1|Heading|0|0|" + std::to_string(run.Text(1).size()) +
                                     "|0|1|2"});
}

TEST(ParserTest, SubjectsFollowEachOtherInTheSpillFile) {
  FrontEndRun run("<new>One\nfirst\n<new> Two \r\nsecond<new>Three");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Heading(1), "One");
  EXPECT_EQ(run.Heading(2), "Two ");  // the CR of CR LF is no part of it
  EXPECT_EQ(run.Heading(3), "Three");
  EXPECT_EQ(run.Text(1), "first\n");
  EXPECT_EQ(run.Text(2), "second");
  EXPECT_EQ(run.Text(3), "");
  EXPECT_EQ(run.Rows("SELECT TextOffsetL,Line,Column FROM tbl_Para"),
            (std::vector<std::string>{"0|1|2", "6|3|2", "12|4|8"}));
}

TEST(ParserTest, SkippedSectionsAndCommentsLeaveNoText) {
  FrontEndRun run(
      "<new>S\nbefore <head><title>t</title><b>x</b></head>after "
      "<!-- a <b> comment - with -- dashes -->end <script>if (a < b) x();</script>."
      "<style>p { }</style><title>T</title>!");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1), "before after end .!");
  EXPECT_TRUE(run.Problems().empty());
}

TEST(ParserTest, NewTagInsideASkippedSectionStartsASubject) {
  FrontEndRun run("<new>A\nx<head>skipped<new>B\ny<!-- open<new>C\nz");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1), "x");
  EXPECT_EQ(run.Text(2), "y");
  EXPECT_EQ(run.Heading(3), "C");
  EXPECT_EQ(run.Text(3), "z");
}

TEST(ParserTest, MalformedTagsStayAsRawText) {
  FrontEndRun run("<new>S\n5 < 6 and a <= b, <b <i>x</i> &");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1), "5 < 6 and a <= b, <b " + Element(6) + "x" + Element(7) + " " + Element(30));
  EXPECT_EQ(run.Problems(), (std::vector<std::string>{
                                "[ Warning ] Line 2 : Col 4 : Malformed tag syntax. Treated as raw text.",
                                "[ Warning ] Line 2 : Col 14 : Malformed tag syntax. Treated as raw text.",
                                "[ Warning ] Line 2 : Col 22 : Malformed tag syntax. Treated as raw text.",
                            }));
}

TEST(ParserTest, EighthPropertyTurnsTheTagIntoText) {
  FrontEndRun run("<new>S\n<x a=1 b=2 c=3 d=4 e=5 f=6 g=7 h=8>y");
  ASSERT_TRUE(run.parsed);
  EXPECT_TRUE(run.Has(Level::kWarning,
                      "Line 2 : Col 32 : { <x...> } The tag \"x\" has more than \"6\" single "
                      "properties. Seems that \"<\" is used incorrectly. Use \"&lt\" instead."));
  EXPECT_EQ(run.Text(1), "<x a=1 b=2 c=3 d=4 e=5 f=6 g=7 h=8>y");
  // Seven are fine.
  FrontEndRun seven("<new>S\n<x a=1 b=2 c=3 d=4 e=5 f=6 g=7>");
  EXPECT_TRUE(seven.Problems().empty());
}

TEST(ParserTest, RepeatedPropertyKeepsTheFirstValue) {
  FrontEndRun run("<new>S\n<x A=1 a=2>");
  EXPECT_TRUE(run.Has(Level::kWarning,
                      "Line 2 : Col 8 : { <x...> } The property \"a\" has value \"1\" previously "
                      "assigned. The new value is ignored."));
  EXPECT_EQ(run.Text(1), Element(23, Z("x") + Z("A") + Z("1")));
}

TEST(ParserTest, HeadingIsCutTo256Characters) {
  std::string long_heading(300, 'h');
  FrontEndRun run("<new>" + long_heading + "\r\ntext");
  ASSERT_TRUE(run.parsed);
  std::string kept(256, 'h');
  EXPECT_EQ(run.Heading(1), kept);
  EXPECT_EQ(run.Problems(), std::vector<std::string>{"[ Warning ] Line 1 : Col 6 : Subject heading "
                                                     "too long. truncated. \"" + kept + "\""});
  FrontEndRun exact("<new>" + kept + "\r\n");
  EXPECT_TRUE(exact.Problems().empty());
  EXPECT_EQ(exact.Heading(1), kept);
}

TEST(ParserTest, LeadingUnderscoresBecomeSpacesOnRequest) {
  FrontEndRun plain("<new>__a_b\n");
  EXPECT_EQ(plain.Heading(1), "__a_b");
  FrontEndRun replaced("<new>__a_b\n", /*underscores=*/true);
  EXPECT_EQ(replaced.Heading(1), "  a_b");
}

TEST(ParserTest, SkipNewLinesJoinsLines) {
  FrontEndRun run("<meta> skipnewlines = yes </meta><new>S\nline one\r\n\r\nline two\n");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1), "line one line two ");
  FrontEndRun off("<new>S\nline one\n\nline two");
  EXPECT_EQ(off.Text(1), "line one\n\nline two");
}

TEST(ParserTest, ByteFFIsEscapedAndLeadingSpaceDropped) {
  FrontEndRun run("<new>S\n \t a\xFF" "b\xE9");
  EXPECT_EQ(run.Text(1), std::string("a") + Element(255) + "b\xE9");
}

TEST(ParserTest, EndOfFileInANonFinalState) {
  FrontEndRun run("<catdef> name = Size type = ");
  EXPECT_FALSE(run.parsed);
  EXPECT_TRUE(run.Has(Level::kFatal, "Line 1 : Col 29 : End of file is not expected here."));
  FrontEndRun in_tag("<new>S\n<b");
  EXPECT_FALSE(in_tag.parsed);
  FrontEndRun in_comment("<new>S\n<!-- open");
  EXPECT_TRUE(in_comment.parsed);  // inside a comment the input may end
}

TEST(ParserTest, UnexpectedTokensOutsideSubjects) {
  FrontEndRun text("stray text <new>S\n");
  EXPECT_FALSE(text.parsed);
  EXPECT_EQ(text.Problems(),
            std::vector<std::string>{"[  Fatal Error  ] Line 1 : Col 1 : Unexpected token \"stray\""});
  FrontEndRun wrappers(
      "<html><head><title>x</title></head><body>\n<new>S\nbody</body></html>");
  EXPECT_TRUE(wrappers.parsed);
  EXPECT_EQ(wrappers.Text(1), "body");
  FrontEndRun quote("<meta> title = Unquoted </meta>");
  EXPECT_TRUE(quote.Has(Level::kFatal, "Line 1 : Col 16 : Unexpected token \"Unquoted\""));
}

TEST(ParserTest, KeywordsAreWordsWhereTheStateTakesNoKeyword) {
  // "text" and "name" are keywords, but a body tag of that name is ordinary.
  FrontEndRun run("<new>S\n<text name=x>y</text>");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1), Element(23, Z("text") + Z("name") + Z("x")) + "y" + Element(24, "text"));
}

TEST(ParserTest, NewTagSyntaxErrorStillStartsASubject) {
  FrontEndRun run("<new x>Heading\nbody");
  EXPECT_TRUE(run.parsed);
  EXPECT_TRUE(run.Has(Level::kError,
                      "Line 1 : Col 6 : Syntax error in <new> tag. Starting new subject anyway."));
  // The word after "new" was taken; the heading is what follows it.
  EXPECT_EQ(run.Heading(1), ">Heading");
}

TEST(ParserTest, QuotedValuesAndTheirErrors) {
  FrontEndRun run("<new>S\n<x t=\" spaced \\\"quote\\\" \\n \" u='single'>");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Text(1),
            Element(23, Z("x") + Z("t") + Z("spaced \"quote\" \\n") + Z("u") + Z("single")));
  FrontEndRun newline("<new>S\n<x t=\"a\nb\">c");
  EXPECT_TRUE(newline.Has(Level::kError, "Line 3 : Col 1 : New line in string."));
  EXPECT_TRUE(newline.Has(Level::kWarning, "Line 2 : Col 7 : Malformed tag syntax. Treated as raw text."));
  FrontEndRun meta("<meta> title = \"a\nb\" </meta>");
  EXPECT_FALSE(meta.parsed);  // no way on from a bad text outside subjects
}

TEST(ParserTest, OverlongTokenIsBad) {
  std::string word(1024, 'w');
  FrontEndRun run("<new>S\n<" + word + ">");
  EXPECT_TRUE(run.Has(Level::kWarning,
                      "Line 2 : Col 2 : String too long \"" + std::string(1023, 'w') + "\""));
  EXPECT_TRUE(run.parsed);
}

TEST(ParserTest, BodyAndHtmlTagsInsideABodyAreDropped) {
  FrontEndRun run("<new>S\na<body>b</body><html>c</html><meta>d<base href=x>e");
  EXPECT_EQ(run.Text(1), "abcde");
}

TEST(ParserTest, LinesCountCarriageReturnLineFeedOnce) {
  FrontEndRun run("<new>A\r\n\r\n\tx <b foo>\r\n");
  // The tag's position: line 3, the TAB counts 4 columns.
  EXPECT_EQ(run.Rows("SELECT Line,Column FROM tbl_Para"), std::vector<std::string>{"1|2"});
  FrontEndRun bad("<new>A\r\n\r\n\tx <img width=q>");
  EXPECT_TRUE(bad.Has(Level::kError,
                      "Line 3 : Col 19 : { <img... width = q ...> }  Numerical value expected for "
                      "\"width\"."));
}

}  // namespace
}  // namespace fvx::compiler
