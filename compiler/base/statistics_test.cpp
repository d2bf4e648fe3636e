#include "compiler/base/statistics.h"

#include <gtest/gtest.h>

#include "compiler/base/compile_context.h"
#include "compiler/base/test_sinks.h"

namespace fvx::compiler {
namespace {

std::vector<std::string> Report(const CompileStatistics& s, uint64_t seconds) {
  RecordingMessageSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  ReportStatistics(context, s, seconds);
  std::vector<std::string> out;
  for (auto& line : sink.lines) {
    EXPECT_EQ(line.first, Level::kInformation);
    out.push_back(line.second);
  }
  return out;
}

TEST(StatisticsTest, FullReport) {
  CompileStatistics s;
  s.subjects = 40;
  s.categories = 3;
  s.category_bytes = 250;
  s.pictures = 2;
  s.picture_bytes_processed = 4096;
  s.picture_bytes_stored = 1024;
  s.text_bytes_processed = 2048;
  s.text_bytes_stored = 512;
  s.filters = 2;
  s.segmentation = 64;
  s.search_overhead_percent = 7;
  s.search_efficiency_percent = 81;
  s.links_processed = 12;
  s.book_size = 10000;
  s.output_file_size = 10500;
  std::vector<std::string> expected = {
      "********** Compilation statistics **********",
      "Number of subjects : 40",
      "Number of categories : 3",
      "Overhead introduced by category information : 2.50%",
      "Number of pictures in the file : 2",
      "Total size of picture data processed : 4.00 KB",
      "Total size of picture data saved : 1.00 KB ( 25.00% )",
      "Overhead introduced by picture data : 10.24%",
      "Total size of text data processed : 2.00 KB",
      "Total size of text data saved: 512 Bytes ( 25.00% )",
      "Overhead introduced by text data : 5.12%",
      "Number of author defined filters : 2",
      "Search acceleration segmentation : 64",
      "Overhead introduced by search acceleration data : 7.00%",
      "Average search acceleration efficiency : 81%",
      "Number of links processed : 12",
      "Fvx file size : 10.25 KB",
      "Time taken to compile : 59 seconds.",
      "********************************************",
  };
  EXPECT_EQ(Report(s, 59), expected);
}

TEST(StatisticsTest, ZeroFiguresLeaveTheirLinesOut) {
  CompileStatistics s;
  std::vector<std::string> expected = {"********** Compilation statistics **********",
                                       "********************************************"};
  EXPECT_EQ(Report(s, 5), expected);
}

TEST(StatisticsTest, TimeForms) {
  CompileStatistics s;
  s.book_size = 1;
  EXPECT_EQ(Report(s, 60)[2], "Time taken to compile : 1 Mins");
  EXPECT_EQ(Report(s, 3599)[2], "Time taken to compile : 59 Mins");
  EXPECT_EQ(Report(s, 3660)[2], "Time taken to compile : 1 Hours and 1 Mins");
  EXPECT_EQ(Report(s, 0)[2], "Time taken to compile : 0 seconds.");
}

}  // namespace
}  // namespace fvx::compiler
