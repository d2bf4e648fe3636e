#include "compiler/backend/sort_order.h"

#include <gtest/gtest.h>

#include "compiler/base/test_sinks.h"

namespace fvx::compiler {
namespace {

TEST(SortOrderTest, HeadingComparison) {
  EXPECT_LT(CompareHeadings("9", "_"), 0);   // digits before "_"
  EXPECT_LT(CompareHeadings("_", "a"), 0);   // "_" before letters
  EXPECT_GT(CompareHeadings("Z", "_"), 0);
  EXPECT_EQ(CompareHeadings("MARS", "mars"), 0);
  EXPECT_LT(CompareHeadings("Mar", "mars"), 0);  // a prefix first
  EXPECT_GT(CompareHeadings("\xE9", "z"), 0);    // bytes compare unsigned, not folded
  EXPECT_NE(CompareHeadings("\xC9", "\xE9"), 0);
}

TEST(SortOrderTest, PositionsInHeadingOrderWithTiesInSourceOrder) {
  WorkDatabase db;
  ASSERT_TRUE(db.Open());
  ASSERT_TRUE(db.CreateTables());
  const char* headings[] = {"mars", "Earth", "MARS", "_note", "10 things", "earth"};
  CSqlQuery q(db);
  for (const char* h : headings) {
    ASSERT_TRUE(q.Exec("INSERT INTO tbl_Para(Heading) VALUES('%q')", h));
  }
  ASSERT_TRUE(q.Exec("INSERT INTO tbl_Para(Heading) VALUES(NULL)"));
  CancellingProgressSink progress(1000);
  CompileContext context(nullptr, &progress, nullptr);
  context.SetRunning(true);
  ASSERT_TRUE(ComputeSortOrder(context, db));
  std::vector<int64_t> order;
  ASSERT_TRUE(q.Query("SELECT SortOrder FROM tbl_Para ORDER BY ROWID"));
  while (q.Step()) {
    int64_t v = 0;
    ASSERT_TRUE(q.ColumnInt(0, v));
    order.push_back(v);
  }
  // NULL(0) "10 things"(1) "_note"(2) Earth(3) earth(4) mars(5) MARS(6)
  EXPECT_EQ(order, (std::vector<int64_t>{5, 3, 6, 2, 1, 4, 0}));
  EXPECT_EQ(progress.pumps, 7);
}

TEST(SortOrderTest, CancelStopsIt) {
  WorkDatabase db;
  ASSERT_TRUE(db.Open());
  ASSERT_TRUE(db.CreateTables());
  CSqlQuery q(db);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(q.Exec("INSERT INTO tbl_Para(Heading) VALUES('h%d')", i));
  CancellingProgressSink progress(2);
  CompileContext context(nullptr, &progress, nullptr);
  context.SetRunning(true);
  EXPECT_FALSE(ComputeSortOrder(context, db));
  EXPECT_TRUE(db.Begin());  // no transaction left open
  EXPECT_TRUE(db.End());
}

}  // namespace
}  // namespace fvx::compiler
