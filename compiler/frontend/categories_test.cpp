#include "compiler/frontend/categories.h"

#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

const char kDeclarations[] =
    "<catdef> name = Mass type = numeric precision = 2 min = 0 max = \"1000\" premod = \"~\" "
    "postmod = \" kg\" displayintext = yes </catdef>\n"
    "<catdef> name = \"Kind\" values = Planet, \"Dwarf planet\", Moon required = \"yes\" "
    "dropdowna = yes </catdef>\n"
    "<catdef> name = Tags multiple = yes dropdowna = yes dropdownb = yes </catdef>\n";

TEST(CategoriesTest, DeclarationsAndAssignments) {
  FrontEndRun run(std::string(kDeclarations) +
                  "<new>Earth\n<catset> Mass = 5.9722 Kind = Planet Tags = water, life, water "
                  "</catset>x\n"
                  "<new>Moon\n<catset> \"Kind\" = \"Moon\" Mass = -1 Tags = </catset>\n"
                  "<new>Io\n<catset> Kind = Moon Kind = Planet Mass = 2000 Mass = abc Size = 3 "
                  "= 4 Kind = Comet </catset>\n");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Problems(),
            (std::vector<std::string>{
                "[ Warning ] Line 5 : Col 17 : Value changed from \"5.9722\" to \"5.97\" after "
                "applying precision 2.",
                "[ Warning ] Line 5 : Col 58 : Duplicate value \"water\"",
                "[  Error  ] Line 7 : Col 33 : Minimum value for the category \"Mass\" is \"0\". "
                "But trying to assign a lower value \"-1.00\". Value ignored.",
                "[  Error  ] Line 7 : Col 43 : Syntax error in catset. The rest of this catset "
                "will be considered as raw text. ",
                "[  Error  ] Line 9 : Col 29 : \"Kind\" is a single valued category. The value "
                "\"Moon\" is already assigned. Trying to assign another value \"Planet\". Value "
                "ignored.",
                "[ Warning ] Line 9 : Col 43 : Maximum value for the category \"Mass\" is "
                "\"1000\". But trying to assign a higher value \"2000.00\". Value ignored.",
                "[ Warning ] Line 9 : Col 55 : Numerical value expected here. Value \"abc\" "
                "ignored.",
                "[  Error  ] Line 9 : Col 59 : Undefined category \"Size\"",
                "[ Warning ] Line 9 : Col 66 : Value \"3\" is ignored.",
                "[  Error  ] Line 9 : Col 68 : Syntax error in catset. The rest of this catset "
                "will be considered as raw text. ",
            }));
  EXPECT_EQ(run.Text(1), "x\n");
  EXPECT_EQ(run.Text(2), "/catset>\n");  // the broken catset's rest is raw text
  EXPECT_EQ(run.Rows("SELECT ParaID,ValueID FROM tbl_ParaProp1"), std::vector<std::string>{"1|1"});
  EXPECT_EQ(run.Rows("SELECT ParaID,ValueID FROM tbl_ParaProp2 ORDER BY ParaID"),
            (std::vector<std::string>{"1|1", "2|3", "3|3"}));
  EXPECT_EQ(run.Rows("SELECT ParaID,ValueID FROM tbl_ParaProp3"),
            (std::vector<std::string>{"1|1", "1|2"}));

  const auto& defs = run.parser->categories().definitions();
  ASSERT_EQ(defs.size(), 3u);
  EXPECT_EQ(defs[0]->flags, uint32_t{kCategoryNumeric | kCategoryDisplayInText | kCategoryHasMin |
                                     kCategoryHasMax});
  EXPECT_EQ(defs[0]->pre_modifier, "~");
  EXPECT_EQ(defs[0]->post_modifier, "kg");
  EXPECT_EQ(defs[0]->precision, 2);
  EXPECT_EQ(defs[1]->flags, uint32_t{kCategoryRequired | kCategoryDropDownA});
  // The second drop-down A claim and the B claim of the same category give way.
  EXPECT_EQ(defs[2]->flags, uint32_t{kCategoryMultiple | kCategoryDropDownB});
}

TEST(CategoriesTest, StoreCategoriesWritesDefinitionsAndSortedValueSets) {
  FrontEndRun run(std::string(kDeclarations) +
                  "<new>A\n<catset> Mass = 10 Kind = Moon Tags = b, A, c </catset>"
                  "<new>B\n<catset> Mass = 2.5 Kind = Planet</catset>");
  ASSERT_TRUE(run.parsed);
  ASSERT_TRUE(run.db.Begin());
  ASSERT_TRUE(run.parser->categories().StoreCategories(1));
  ASSERT_TRUE(run.db.End());
  EXPECT_EQ(run.Rows("SELECT CatDefID,Name,MinVal,MaxVal,Flags,StartLine,PreModifier,"
                     "PostModifier,Precision,SortOrder FROM tbl_CatDef ORDER BY CatDefID"),
            (std::vector<std::string>{"1|Mass|0.0|1000.0|773|1|~|kg|2|1",
                                      "2|Kind|0.0|0.0|1088|2|||0|0", "3|Tags|0.0|0.0|2050|3|||0|2"}));
  EXPECT_EQ(run.Rows("SELECT CatValID,CatVal,SortOrder FROM tbl_ValSet1 ORDER BY CatValID"),
            (std::vector<std::string>{"1|10|1", "2|2.5|0"}));
  EXPECT_EQ(run.Rows("SELECT CatValID,CatVal,SortOrder FROM tbl_ValSet2 ORDER BY CatValID"),
            (std::vector<std::string>{"1|Planet|2", "2|Dwarf planet|0", "3|Moon|1"}));
  EXPECT_EQ(run.Rows("SELECT CatValID,CatVal,SortOrder FROM tbl_ValSet3 ORDER BY CatValID"),
            (std::vector<std::string>{"1|b|1", "2|A|0", "3|c|2"}));
}

struct FatalCase {
  const char* source;
  const char* message;
};

TEST(CategoriesTest, FatalDeclarationErrors) {
  const FatalCase cases[] = {
      {"<catdef> name = A </catdef><catdef> name = A </catdef>",
       "Line 1 : Col 44 : Category redefinition \"A\""},
      {"<catdef> name = \"\" </catdef>", "Line 1 : Col 18 : Empty category name."},
      {"<catdef> name = A type = numeric max = 5 min = 7 </catdef>",
       "Line 1 : Col 48 : Minimum value \"7\" greater than Maximum value \"5\"."},
      {"<catdef> name = A type = numeric min = 7 max = 5 </catdef>",
       "Line 1 : Col 48 : Maximum value \"5\" lesser than Minimum value \"7\"."},
      {"<catdef> name = A values = x max = 5 </catdef>",
       "Line 1 : Col 36 : Max or Min can't be changed after the value set has been fixed."},
      {"<catdef> name = A values = x type = numeric </catdef>",
       "Line 1 : Col 30 : Trying to change the category type after the value set has been fixed."},
      {"<catdef> name = A required = yes required = no </catdef>",
       "Line 1 : Col 34 : Parameter redefinition \"required\""},
      {"<catdef> name = A name = B </catdef>", "Line 1 : Col 26 : Parameter redefinition \"name\""},
      {"<catdef> name = A max = big </catdef>", "Line 1 : Col 25 : Numerical value expected here."},
  };
  for (const FatalCase& c : cases) {
    FrontEndRun run(c.source);
    EXPECT_FALSE(run.parsed) << c.source;
    EXPECT_TRUE(run.Has(Level::kFatal, c.message)) << c.source << "\n  got: "
                                                  << (run.Problems().empty() ? "" : run.Problems()[0]);
  }
}

TEST(CategoriesTest, ValueListsAndPrecision) {
  FrontEndRun run(
      "<catdef> name = P type = numeric precision = 1 values = 1.25, \"\", 3 </catdef>"
      "<new>S\n<catset> P = 3.0 P = 4 </catset><new>T\n<catset> P = 4 </catset>");
  EXPECT_TRUE(run.Has(Level::kError, "Line 3 : Col 14 : Undefined value. \"4.0\" is not defined "
                                     "in category \"P\". Value ignored."));
  EXPECT_TRUE(run.Has(Level::kWarning, "Line 1 : Col 57 : Value changed from \"1.25\" to \"1.2\" "
                                       "after applying precision 1."));
  EXPECT_TRUE(run.Has(Level::kWarning, "Line 1 : Col 64 : Empty string."));
  EXPECT_TRUE(run.Has(Level::kError, "Line 2 : Col 22 : \"P\" is a single valued category. The "
                                     "value \"3.0\" is already assigned. Trying to assign another "
                                     "value \"4.0\". Value ignored."));
  const CCategoryDef* p = run.parser->categories().Find("P");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->values, (std::vector<std::string>{"1.2", "3.0"}));
  EXPECT_TRUE(run.parsed);
}

TEST(CategoriesTest, NegativeZeroIsTheValueZero) {
  FrontEndRun run(
      "<catdef> name = P type = numeric precision = 2 </catdef>"
      "<catdef> name = W type = numeric </catdef>"
      "<new>S\n<catset> P = -0.001 W = -0 </catset><new>T\n<catset> P = 0 W = 0 </catset>");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Problems(), std::vector<std::string>{
                                "[ Warning ] Line 2 : Col 14 : Value changed from \"-0.001\" to "
                                "\"0.00\" after applying precision 2."});
  EXPECT_EQ(run.parser->categories().Find("P")->values, std::vector<std::string>{"0.00"});
  EXPECT_EQ(run.parser->categories().Find("W")->values, std::vector<std::string>{"0"});
  // Both subjects carry the one value, and the value sets store.
  EXPECT_EQ(run.Rows("SELECT ParaID,ValueID FROM tbl_ParaProp1 ORDER BY ParaID"),
            (std::vector<std::string>{"1|1", "2|1"}));
  ASSERT_TRUE(run.db.Begin());
  EXPECT_TRUE(run.parser->categories().StoreCategories(1));
  ASSERT_TRUE(run.db.End());
}

TEST(CategoriesTest, EmptyNamesAndValuesInAssignments) {
  FrontEndRun run("<catdef> name = K </catdef><new>S\n<catset> \"\" = 1 K = \"\" </catset>");
  ASSERT_TRUE(run.parsed);
  EXPECT_EQ(run.Problems(),
            (std::vector<std::string>{
                "[ Warning ] Line 2 : Col 11 : Empty category name. Ignored.",
                "[ Warning ] Line 2 : Col 15 : Value \"1\" is ignored.",
                "[  Error  ] Line 2 : Col 22 : Empty category value. Ignored.",
            }));
  EXPECT_EQ(run.Rows("SELECT ParaID FROM tbl_ParaProp1"), std::vector<std::string>{});
}

TEST(CategoriesTest, RequiredCategoryMissingInASubject) {
  FrontEndRun run(
      "<catdef> name = R required = yes </catdef><catdef> name = Q required = yes </catdef>"
      "<new>First\n<catset> R = 1 </catset>\n<new>Second\n");
  EXPECT_FALSE(run.parsed);
  EXPECT_TRUE(run.Has(Level::kFatal,
                      "Line 3 : Col 6 : Required category \"Q\" is not used in the subject \"First\""));
  FrontEndRun last("<catdef> name = R required = yes </catdef><new>Only\n");
  EXPECT_TRUE(last.parsed);  // the last subject is checked by the driver
  ASSERT_NE(last.parser->MissingRequiredInLast(), nullptr);
  EXPECT_EQ(last.parser->MissingRequiredInLast()->name, "R");
}

}  // namespace
}  // namespace fvx::compiler
