#include "compiler/frontend/colour.h"

#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

TEST(ColourTest, ValuesAndNames) {
  uint32_t c = 0;
  ASSERT_TRUE(ParseColour("#FF0000", c));
  EXPECT_EQ(c, 0xFF0000u);
  ASSERT_TRUE(ParseColour("red", c));
  EXPECT_EQ(c, 0xFF0000u);
  ASSERT_TRUE(ParseColour("  00ff7f", c));
  EXPECT_EQ(c, 0x00FF7Fu);
  ASSERT_TRUE(ParseColour("80", c));
  EXPECT_EQ(c, 0x808080u);
  ASSERT_TRUE(ParseColour("#8", c));
  EXPECT_EQ(c, 0x8u);
  ASSERT_TRUE(ParseColour("AliceBlue", c));
  EXPECT_EQ(c, 0xF0F8FFu);
  ASSERT_TRUE(ParseColour("antiquewhite", c));
  EXPECT_EQ(c, 0xFAEBD7u);
  ASSERT_TRUE(ParseColour("aqua", c));
  EXPECT_EQ(c, 0x00FFFFu);
  ASSERT_TRUE(ParseColour("cornsilk4", c));
  EXPECT_EQ(c, 0x8B8878u);
  ASSERT_TRUE(ParseColour("green", c));
  EXPECT_EQ(c, 0x008000u);
  EXPECT_FALSE(ParseColour("", c));
  EXPECT_FALSE(ParseColour("#", c));
  EXPECT_FALSE(ParseColour("#12345g", c));
  EXPECT_FALSE(ParseColour("notacolour", c));
}

TEST(ColourTest, MetaColoursAndTheirFailure) {
  FrontEndRun run("<meta> bkcolor = #FF0000 text = \"Navy\" link = 80 vlink = purple </meta>");
  ASSERT_TRUE(run.parsed);
  const CDocumentProperties& p = run.parser->properties();
  EXPECT_EQ(p.background_colour, 0xFF0000u);
  EXPECT_EQ(p.text_colour, 0x000080u);
  EXPECT_EQ(p.link_colour, 0x808080u);
  EXPECT_EQ(p.visited_link_colour, 0x800080u);
  FrontEndRun bad("<meta> bkcolor = bluish </meta>");
  EXPECT_FALSE(bad.parsed);
  EXPECT_TRUE(bad.Has(Level::kFatal, "Line 1 : Col 18 : Bad color value \"bluish\"."));
}

TEST(DocumentPropertiesTest, EveryKey) {
  FrontEndRun run(
      "<meta> charset = \"windows-1252\" optimizeimagesfor = PPC sortfile = \"yes\" sortcats = no "
      "skipnewlines = no hugefile = yes createddate = 2024-05-17 maximagewidth = 10 "
      "maximageheight = \"0\" publicationyear = 1999 foliolibcat = 4 majorversion = 3 "
      "minorversion = 12 title = \"One\" title = \"Two\" author = \"A. Author\" createdby = "
      "\"fvx\" url = \"http://x\" frontcover = \"f.png\" frontcover = \"g.png\" backcover = "
      "\"b.png\" bktile = \"t.png\" frontcovertitle = \"Front\" backcovertitle = \"Back\" "
      "</meta>");
  ASSERT_TRUE(run.parsed);
  const CDocumentProperties& p = run.parser->properties();
  EXPECT_EQ(p.charset, "windows-1252");
  EXPECT_EQ(p.picture_target, CDocumentProperties::kPictureTargetPpc);
  EXPECT_TRUE(p.sort_file);
  EXPECT_TRUE(p.sort_file_given);
  EXPECT_FALSE(p.sort_categories);
  EXPECT_TRUE(p.huge_file);
  EXPECT_EQ(p.creation_date, (2024u << 16) | (5u << 8) | 17u);
  EXPECT_EQ(p.max_picture_width, 50u);
  EXPECT_EQ(p.max_picture_height, 0u);
  EXPECT_EQ(p.publication_year, 1999u);
  EXPECT_EQ(p.library_category, 4u);
  EXPECT_EQ(p.version, (3u << 16) | 12u);
  EXPECT_EQ(p.title, "Two");
  EXPECT_EQ(p.author, "A. Author");
  EXPECT_EQ(p.created_by, "fvx");
  EXPECT_EQ(p.url, "http://x");
  EXPECT_EQ(p.front_cover_title, "Front");
  EXPECT_EQ(p.back_cover_title, "Back");
  EXPECT_EQ(p.front_cover_picture, 1u);
  EXPECT_EQ(p.back_cover_picture, 2u);
  EXPECT_EQ(p.background_picture, 3u);
  EXPECT_EQ(run.Rows("SELECT ROWID,Src,Flags FROM tbl_Images"),
            (std::vector<std::string>{"1|f.png|0", "2|b.png|0", "3|t.png|0"}));
  EXPECT_EQ(run.Problems(), std::vector<std::string>{"[  Fatal Error  ] Line 1 : Col 162 : Maximum "
                                                     "image width is too small. Set to value 50."});
  FrontEndRun defaults("<new>S\n");
  EXPECT_EQ(defaults.parser->properties().background_colour, 0xFFFFFFFFu);
  EXPECT_EQ(defaults.parser->properties().picture_target, 2u);
  EXPECT_FALSE(defaults.parser->properties().title.has_value());
}

TEST(DocumentPropertiesTest, DateAndValueFailures) {
  FrontEndRun month("<meta> createddate = 2024-13-01 </meta>");
  EXPECT_TRUE(month.Has(Level::kFatal, "Line 1 : Col 27 : Trying to assign incorrect value for month "
                                       "13. Month should be between 1 and 12"));
  FrontEndRun day("<meta> createddate = \"2024-1-32\" </meta>");
  EXPECT_TRUE(day.Has(Level::kFatal, "Line 1 : Col 30 : Trying to assign an incorrect value for "
                                     "day 32. Day should be between 1 and 31"));
  FrontEndRun year("<meta> createddate = 0-1-1 </meta>");
  EXPECT_FALSE(year.parsed);
  EXPECT_TRUE(year.Problems().empty());  // fails without a message
  FrontEndRun target("<meta> optimizeimagesfor = desktop </meta>");
  EXPECT_FALSE(target.parsed);
  EXPECT_TRUE(target.Problems().empty());
  FrontEndRun negative("<meta> publicationyear = -5 </meta>");
  EXPECT_TRUE(negative.Has(Level::kFatal, "Line 1 : Col 26 : Unexpected token \"-\""));
  FrontEndRun word("<meta> publicationyear = soon </meta>");
  EXPECT_TRUE(word.Has(Level::kFatal, "Line 1 : Col 26 : Numerical value expected here."));
}

// A number too large for its field is kept at the most the field holds and
// warned about, like every other number; it used to wrap or saturate quietly.
TEST(DocumentPropertiesTest, NumbersTooLargeForTheirFieldOverflow) {
  FrontEndRun run(
      "<meta> publicationyear = 99999999999 majorversion = 70000 minorversion = 65535 "
      "foliolibcat = 4294967296 </meta>");
  ASSERT_TRUE(run.parsed);
  const CDocumentProperties& p = run.parser->properties();
  EXPECT_EQ(p.publication_year, 0xFFFFFFFFu);
  EXPECT_EQ(p.version, 0xFFFFFFFFu);
  EXPECT_EQ(p.library_category, 0xFFFFFFFFu);
  std::vector<std::string> problems = run.Problems();
  ASSERT_EQ(problems.size(), 3u);  // minorversion = 65535 fits
  for (const std::string& line : problems) {
    EXPECT_EQ(line.rfind("[ Warning ] ", 0), 0u) << line;
    EXPECT_NE(line.find("Numerical overflow."), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace fvx::compiler
