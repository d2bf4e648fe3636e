#include "compiler/base/work_database.h"

#include <gtest/gtest.h>

namespace fvx::compiler {
namespace {

class WorkDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db_.Open());
    ASSERT_TRUE(db_.CreateTables());
  }
  WorkDatabase db_;
};

TEST_F(WorkDatabaseTest, SettingsAreApplied) {
  CSqlQuery q(db_);
  ASSERT_TRUE(q.Query("PRAGMA cache_size"));
  ASSERT_TRUE(q.Step());
  int64_t pages = 0;
  EXPECT_TRUE(q.ColumnInt(0, pages));
  EXPECT_EQ(pages, 68266);
  ASSERT_TRUE(q.Query("PRAGMA synchronous"));
  ASSERT_TRUE(q.Step());
  EXPECT_TRUE(q.ColumnInt(0, pages));
  EXPECT_EQ(pages, 0);
}

TEST_F(WorkDatabaseTest, FormatterQuotesTextsAndKeepsBytes) {
  CSqlQuery q(db_);
  // A heading with a quote and bytes above 0x7F goes in and out unchanged.
  std::string heading = "O'Brien \xE9t\xE9 \xFE";
  ASSERT_TRUE(q.Exec("INSERT INTO tbl_Para(Heading,TextOffsetH,TextOffsetL,TextLength) "
                     "VALUES('%q','%d','%d','%d')",
                     heading.c_str(), 0, 10, 5));
  EXPECT_EQ(q.LastInsertRowId(), 1);
  ASSERT_TRUE(q.Query("SELECT Heading,TextLength FROM tbl_Para WHERE ROWID = '%d'", 1));
  ASSERT_TRUE(q.Step());
  EXPECT_EQ(q.ColumnText(0).value(), heading);
  uint32_t length = 0;
  EXPECT_TRUE(q.ColumnUInt(1, length));
  EXPECT_EQ(length, 5u);
  EXPECT_FALSE(q.ColumnText(2).has_value());
  EXPECT_FALSE(q.ColumnText(-1).has_value());
  EXPECT_FALSE(q.Step());
  EXPECT_EQ(q.result(), SQLITE_DONE);
}

TEST_F(WorkDatabaseTest, ColumnIntKeepsLeadingNumberButReportsTrailingText) {
  CSqlQuery q(db_);
  ASSERT_TRUE(q.Query("SELECT '12abc', '-7', '', NULL, '99'"));
  ASSERT_TRUE(q.Step());
  int64_t v = 0;
  EXPECT_FALSE(q.ColumnInt(0, v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(q.ColumnInt(1, v));
  EXPECT_EQ(v, -7);
  uint64_t u = 5;
  EXPECT_FALSE(q.ColumnUInt(2, u));
  EXPECT_FALSE(q.ColumnUInt(3, u));
  EXPECT_TRUE(q.ColumnUInt(4, u));
  EXPECT_EQ(u, 99u);
}

TEST_F(WorkDatabaseTest, FailuresAreReportedNotThrown) {
  CSqlQuery q(db_);
  EXPECT_FALSE(q.Query("SELECT * FROM tbl_Missing"));
  EXPECT_FALSE(q.Step());
  EXPECT_FALSE(q.Exec("CREATE TABLE tbl_Para(x)"));
  CSqlQuery none(static_cast<sqlite3*>(nullptr));
  EXPECT_FALSE(none.Query("SELECT 1"));
  EXPECT_EQ(none.LastInsertRowId(), -1);
}

TEST_F(WorkDatabaseTest, CachedStatementReportsConstraintViolation) {
  CSqlQuery q(db_);
  ASSERT_TRUE(q.Exec("CREATE TABLE tbl_ParaProp%d(ParaID INTEGER,ValueID INTEGER,"
                     "UNIQUE(ParaID,ValueID) )",
                     1));
  CachedStatement insert;
  ASSERT_TRUE(insert.Prepare(db_.handle(), "INSERT INTO tbl_ParaProp1 VALUES(?,?)"));
  insert.BindInt(1, 3);
  insert.BindInt(2, 4);
  EXPECT_EQ(insert.Run(), SQLITE_DONE);
  insert.BindInt(1, 3);
  insert.BindInt(2, 4);
  EXPECT_EQ(insert.Run(), SQLITE_CONSTRAINT);
  insert.BindInt(1, 3);
  insert.BindInt(2, 5);
  EXPECT_EQ(insert.Run(), SQLITE_DONE);
}

TEST_F(WorkDatabaseTest, TransactionsDoNotNest) {
  ASSERT_TRUE(db_.Begin());
  EXPECT_FALSE(db_.Begin());
  ASSERT_TRUE(db_.End());
  EXPECT_FALSE(db_.End());
}

}  // namespace
}  // namespace fvx::compiler
