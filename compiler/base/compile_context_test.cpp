#include "compiler/base/compile_context.h"

#include <gtest/gtest.h>

#include "compiler/base/test_sinks.h"

namespace fvx::compiler {
namespace {

// A sink whose table lacks one entry.
class PartialTableSink : public RecordingMessageSink {
 public:
  std::optional<std::string> LoadMessage(uint32_t id) override {
    if (id == static_cast<uint32_t>(MessageId::kEmptyString)) return std::nullopt;
    return MessageSink::LoadMessage(id);
  }
};

TEST(CompileContextTest, CountsByLevelAndTagsLines) {
  RecordingMessageSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.Reset();
  context.SetPosition(3, 14);
  context.Report(true, Level::kWarning, MessageId::kMalformedTag);
  context.Report(false, Level::kError, MessageId::kUndefinedCategory, "%s", {"Size"});
  context.Report(true, Level::kFatal, MessageId::kUnexpectedToken, "%s", {">"});
  context.Report(false, Level::kInformation, MessageId::kParsingInputFile);
  EXPECT_EQ(context.errors(), 2u);
  EXPECT_EQ(context.warnings(), 1u);
  ASSERT_EQ(sink.lines.size(), 4u);
  EXPECT_EQ(sink.LogLines()[0], "[ Warning ] Line 3 : Col 14 : Malformed tag syntax. Treated as raw text.");
  EXPECT_EQ(sink.LogLines()[1], "[  Error  ] Undefined category \"Size\"");
  EXPECT_EQ(sink.LogLines()[2], "[  Fatal Error  ] Line 3 : Col 14 : Unexpected token \">\"");
  EXPECT_EQ(sink.LogLines()[3], "Parsing input file... ");
  context.Reset();
  EXPECT_EQ(context.errors(), 0u);
  EXPECT_EQ(context.warnings(), 0u);
}

TEST(CompileContextTest, MissingEntryPrintsAndCountsNothing) {
  PartialTableSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.Report(true, Level::kWarning, MessageId::kEmptyString);
  context.Report(false, Level::kWarning, MessageId::kNone);
  EXPECT_TRUE(sink.lines.empty());
  EXPECT_EQ(context.warnings(), 0u);
}

TEST(CompileContextTest, ParseErrorMarksFailureOnlyForErrors) {
  RecordingMessageSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.SetPosition(1, 2);
  context.ParseError(false, MessageId::kNumericalOverflow);
  EXPECT_FALSE(context.parse_failed());
  context.ParseError(true, MessageId::kNumberExpected);
  EXPECT_TRUE(context.parse_failed());
  EXPECT_TRUE(sink.Has(Level::kWarning, "Line 1 : Col 2 : Numerical overflow."));
  EXPECT_TRUE(sink.Has(Level::kFatal, "Line 1 : Col 2 : Numerical value expected here."));
}

TEST(CompileContextTest, KeepGoingFollowsPumpAndCancel) {
  CancellingProgressSink progress(2);
  CompileContext context(nullptr, &progress, nullptr);
  EXPECT_FALSE(context.KeepGoing());  // not running yet
  context.SetRunning(true);
  EXPECT_TRUE(context.KeepGoing());
  EXPECT_FALSE(context.KeepGoing());  // the pump said stop
  EXPECT_FALSE(context.IsRunning());
  context.SetRunning(true);
  context.Cancel();
  EXPECT_FALSE(context.KeepGoing());
}

TEST(CompileContextTest, OptionsDefaultWithoutProvider) {
  CompileContext context(nullptr, nullptr, nullptr);
  uint32_t size = 16;
  EXPECT_FALSE(context.ReplaceLeadingUnderscores());
  EXPECT_FALSE(context.FixedSegmentation(size));
  EXPECT_EQ(size, 16u);
  EXPECT_FALSE(context.ShouldSort(500));
  EXPECT_FALSE(context.SkipPictures());
}

class PercentSink : public ProgressSink {
 public:
  void Progress(ProgressCode code, uint32_t value) override { calls.emplace_back(code, value); }
  std::vector<std::pair<ProgressCode, uint32_t>> calls;
};

TEST(CompileContextTest, ProgressReportsOnlyChangedPercentages) {
  PercentSink progress;
  CompileContext context(nullptr, &progress, nullptr);
  context.BeginProgress(1000);
  for (int i = 0; i <= 1000; ++i) context.SetProgress(i);
  context.EndProgress();
  ASSERT_EQ(progress.calls.size(), 102u);
  EXPECT_EQ(progress.calls.front(), std::make_pair(ProgressCode::kBegin, 100u));
  EXPECT_EQ(progress.calls[100], std::make_pair(ProgressCode::kPercent, 100u));
  EXPECT_EQ(progress.calls.back().first, ProgressCode::kEnd);
}

}  // namespace
}  // namespace fvx::compiler
