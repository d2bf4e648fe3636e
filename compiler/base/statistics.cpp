#include "compiler/base/statistics.h"

#include "compiler/base/compile_context.h"
#include "compiler/base/message_format.h"

namespace fvx::compiler {
namespace {

// part × 100 ÷ whole; a book of size zero has no overheads to speak of.
double Percent(uint64_t part, uint64_t whole) {
  return whole == 0 ? 0.0 : static_cast<double>(part) * 100.0 / static_cast<double>(whole);
}

}  // namespace

void ReportStatistics(CompileContext& context, const CompileStatistics& s,
                      uint64_t elapsed_seconds) {
  constexpr Level kInfo = Level::kInformation;
  context.Report(false, kInfo, MessageId::kStatsBanner);
  if (s.subjects > 0) context.Report(false, kInfo, MessageId::kStatsSubjects, "%d", {s.subjects});
  if (s.categories > 0) {
    context.Report(false, kInfo, MessageId::kStatsCategories, "%d", {s.categories});
    context.Report(false, kInfo, MessageId::kStatsCategoryOverhead, "%.2f",
                   {Percent(s.category_bytes, s.book_size)});
  }
  if (s.picture_bytes_processed > 0) {
    context.Report(false, kInfo, MessageId::kStatsPictures, "%d", {s.pictures});
    context.Report(false, kInfo, MessageId::kStatsPictureProcessed, "%s",
                   {SizeText(s.picture_bytes_processed)});
    context.Report(false, kInfo, MessageId::kStatsPictureSaved, "%s:%.2f",
                   {SizeText(s.picture_bytes_stored),
                    Percent(s.picture_bytes_stored, s.picture_bytes_processed)});
    context.Report(false, kInfo, MessageId::kStatsPictureOverhead, "%.2f",
                   {Percent(s.picture_bytes_stored, s.book_size)});
  }
  if (s.text_bytes_processed > 0) {
    context.Report(false, kInfo, MessageId::kStatsTextProcessed, "%s",
                   {SizeText(s.text_bytes_processed)});
    context.Report(false, kInfo, MessageId::kStatsTextSaved, "%s:%.2f",
                   {SizeText(s.text_bytes_stored),
                    Percent(s.text_bytes_stored, s.text_bytes_processed)});
    context.Report(false, kInfo, MessageId::kStatsTextOverhead, "%.2f",
                   {Percent(s.text_bytes_stored, s.book_size)});
  }
  if (s.filters > 0) context.Report(false, kInfo, MessageId::kStatsFilters, "%d", {s.filters});
  if (s.segmentation > 0) {
    context.Report(false, kInfo, MessageId::kStatsSegmentation, "%d", {s.segmentation});
    context.Report(false, kInfo, MessageId::kStatsSearchOverhead, "%.2f",
                   {static_cast<double>(s.search_overhead_percent)});
    context.Report(false, kInfo, MessageId::kStatsSearchEfficiency, "%d",
                   {s.search_efficiency_percent});
  }
  if (s.links_processed > 0) {
    context.Report(false, kInfo, MessageId::kStatsLinks, "%d", {s.links_processed});
  }
  if (s.book_size != 0) {
    context.Report(false, kInfo, MessageId::kStatsFileSize, "%s", {SizeText(s.output_file_size)});
    uint64_t t = elapsed_seconds;
    if (t < 60) {
      context.Report(false, kInfo, MessageId::kStatsTimeSeconds, "%d", {t});
    } else if (t < 3600) {
      context.Report(false, kInfo, MessageId::kStatsTimeMinutes, "%d", {t / 60});
    } else {
      context.Report(false, kInfo, MessageId::kStatsTimeHours, "%d:%d",
                     {t / 3600, (t % 3600) / 60});
    }
  }
  context.Report(false, kInfo, MessageId::kStatsFooter);
}

}  // namespace fvx::compiler
