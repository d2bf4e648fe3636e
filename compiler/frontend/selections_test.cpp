#include "compiler/frontend/selections.h"

#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

using Kind = CQueryItem::Kind;

CQueryItem Op(Kind kind) {
  CQueryItem item;
  item.kind = kind;
  return item;
}

CQueryItem Cmp(const char* value) {
  CQueryItem item;
  item.value = value;
  return item;
}

std::string Show(const std::vector<CQueryItem>& items) {
  std::string out;
  for (const CQueryItem& item : items) {
    if (!out.empty()) out += ' ';
    switch (item.kind) {
      case Kind::kComparison: out += item.value; break;
      case Kind::kAnd: out += "and"; break;
      case Kind::kOr: out += "or"; break;
      case Kind::kNot: out += "!"; break;
      case Kind::kOpen: out += "("; break;
      case Kind::kClose: out += ")"; break;
    }
  }
  return out;
}

TEST(SelectionsTest, PostfixOrderBindsNotThenAndThenOr) {
  // a or b and c  ->  a b c and or
  EXPECT_EQ(Show(SelectionStore::ToPostfix(
                {Cmp("a"), Op(Kind::kOr), Cmp("b"), Op(Kind::kAnd), Cmp("c")})),
            "a b c and or");
  // a and b or c  ->  a b and c or
  EXPECT_EQ(Show(SelectionStore::ToPostfix(
                {Cmp("a"), Op(Kind::kAnd), Cmp("b"), Op(Kind::kOr), Cmp("c")})),
            "a b and c or");
  // !(a or b) and c  ->  a b or ! c and
  EXPECT_EQ(Show(SelectionStore::ToPostfix({Op(Kind::kNot), Op(Kind::kOpen), Cmp("a"),
                                            Op(Kind::kOr), Cmp("b"), Op(Kind::kClose),
                                            Op(Kind::kAnd), Cmp("c")})),
            "a b or ! c and");
  // (a or b) and (c or !(d))
  EXPECT_EQ(Show(SelectionStore::ToPostfix(
                {Op(Kind::kOpen), Cmp("a"), Op(Kind::kOr), Cmp("b"), Op(Kind::kClose),
                 Op(Kind::kAnd), Op(Kind::kOpen), Cmp("c"), Op(Kind::kOr), Op(Kind::kNot),
                 Op(Kind::kOpen), Cmp("d"), Op(Kind::kClose), Op(Kind::kClose)})),
            "a b or c d ! or and");
}

const char kBook[] =
    "<catdef> name = Mass type = numeric precision = 1 </catdef>"
    "<catdef> name = \"Kind\" multiple = yes </catdef>"
    "<selection> name = Heavy query = Mass >= 10 and !(Kind = Moon)\n"
    "  name = \"Light or moon\" query = Mass < 1 or \"Kind\" = \"Moon\" "
    "  name = Nothing query = Mass > 1000 "
    "  name = NotHeavy query = !(Mass >= 10) "
    "  name = Other query = Kind != Planet </selection>\n"
    "<new>Jupiter\n<catset> Mass = 317.8 Kind = Planet, Giant </catset>\n"
    "<new>Ganymede\n<catset> Mass = 0.5 Kind = Moon </catset>\n"
    "<new>Earth\n<catset> Mass = 1 Kind = Planet </catset>\n"
    "<new>Titan\n<catset> Mass = 10 Kind = Moon </catset>\n"
    "<new>Comet\n";

TEST(SelectionsTest, EvaluationIntoSubjectSets) {
  FrontEndRun run(kBook);
  ASSERT_TRUE(run.parsed);
  ASSERT_TRUE(run.db.Begin());
  ASSERT_TRUE(run.parser->categories().StoreCategories(1));
  for (const Selection& s : run.parser->selections().selections()) {
    ASSERT_TRUE(run.parser->selections().Evaluate(s)) << s.name;
  }
  ASSERT_TRUE(run.db.End());
  EXPECT_EQ(run.Rows("SELECT ROWID,Name,Line,Column FROM tbl_Selections"),
            (std::vector<std::string>{"1|Heavy|1|126", "2|Light or moon|2|11", "3|Nothing|2|71",
                                      "4|NotHeavy|2|108", "5|Other|2|148"}));
  EXPECT_EQ(run.Rows("SELECT ParaID FROM tbl_SelectSet1"), std::vector<std::string>{"1"});
  EXPECT_EQ(run.Rows("SELECT ParaID FROM tbl_SelectSet2"), (std::vector<std::string>{"2", "4"}));
  EXPECT_TRUE(run.Rows("SELECT ParaID FROM tbl_SelectSet3").empty());
  EXPECT_EQ(run.Rows("SELECT ParaID FROM tbl_SelectSet4"), (std::vector<std::string>{"2", "3", "5"}));
  // A subject counts when any of its values compares: Jupiter's "Giant".
  EXPECT_EQ(run.Rows("SELECT ParaID FROM tbl_SelectSet5"), (std::vector<std::string>{"1", "2", "4"}));
  // Scratch tables are gone.
  EXPECT_EQ(run.Column("SELECT COUNT(*) FROM sqlite_master WHERE name GLOB 'tbl_Tmp*'"), "0");
}

TEST(SelectionsTest, QueryErrorsAreFatal) {
  const std::pair<const char*, const char*> cases[] = {
      {"<catdef> name = A </catdef><selection> name = S query = (A = 1)) </selection>",
       "Line 1 : Col 64 : Un balanced \")\"."},
      {"<catdef> name = A </catdef><selection> name = S query = ((A = 1) </selection>",
       "Line 1 : Col 66 : Un balanced \")\"."},
      {"<selection> name = S query = B = 1 </selection>",
       "Line 1 : Col 30 : Undefined category \"B\""},
      {"<catdef> name = A </catdef><selection> name = S query = A = \"\" </selection>",
       "Line 1 : Col 62 : Empty string."},
      {"<catdef> name = A </catdef><selection> name = S query = A = 1 name = S query = A = 2 "
       "</selection>",
       "Line 1 : Col 70 : Selection S already defined."},
      {"<selection> name = \"\" </selection>", "Line 1 : Col 21 : Empty selection name."},
  };
  for (const auto& [source, message] : cases) {
    FrontEndRun run(source);
    EXPECT_FALSE(run.parsed) << source;
    EXPECT_TRUE(run.Has(Level::kFatal, message))
        << source << "\n  got: " << (run.Problems().empty() ? "" : run.Problems()[0]);
  }
  // "!" needs parentheses.
  FrontEndRun bare("<catdef> name = A </catdef><selection> name = S query = !A = 1 </selection>");
  EXPECT_TRUE(bare.Has(Level::kFatal, "Line 1 : Col 58 : Unexpected token \"A\""));
}

}  // namespace
}  // namespace fvx::compiler
