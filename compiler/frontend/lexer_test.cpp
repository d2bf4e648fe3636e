#include "compiler/frontend/lexer.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

TEST(LexerTest, DecimalNumbers) {
  double v = 0;
  bool overflow = false;
  EXPECT_TRUE(ParseDecimalNumber("12", v, overflow));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(ParseDecimalNumber("  -3.5", v, overflow));
  EXPECT_EQ(v, -3.5);
  EXPECT_TRUE(ParseDecimalNumber(".5", v, overflow));
  EXPECT_TRUE(ParseDecimalNumber("1e3", v, overflow));
  EXPECT_EQ(v, 1000);
  EXPECT_TRUE(ParseDecimalNumber("1e999", v, overflow));
  EXPECT_TRUE(overflow);
  EXPECT_EQ(v, DBL_MAX);
  for (const char* bad : {"", "-", "1.2.3", "0x10", "inf", "nan", "12 ", "1e", "5kg", "."}) {
    EXPECT_FALSE(ParseDecimalNumber(bad, v, overflow)) << bad;
  }
}

TEST(LexerTest, NumberOverflowIsAWarning) {
  FrontEndRun run("<catdef> name = A type = numeric max = 1e999 </catdef>");
  EXPECT_TRUE(run.parsed);
  EXPECT_TRUE(run.Has(Level::kWarning, "Line 1 : Col 40 : Numerical overflow."));
}

// Cancels the parse through the pump.
TEST(LexerTest, KeepGoingIsAskedEvery5001Characters) {
  std::string body(20000, 'x');
  CancellingProgressSink progress(1000);
  FrontEndRun run("<new>S\n" + body, false, &progress);
  EXPECT_TRUE(run.parsed);
  EXPECT_EQ(progress.pumps, 4);  // 20007 characters
  CancellingProgressSink stop(1);
  FrontEndRun cancelled("<new>S\n" + body, false, &stop);
  EXPECT_FALSE(cancelled.parsed);
  EXPECT_EQ(stop.pumps, 2);
  EXPECT_FALSE(cancelled.context.IsRunning());
}

}  // namespace
}  // namespace fvx::compiler
