#include "compiler/base/compile_context.h"

namespace fvx::compiler {

void CompileContext::Reset() {
  errors_ = 0;
  warnings_ = 0;
  line_ = 0;
  column_ = 0;
  parse_failed_ = false;
  running_.store(false);
}

void CompileContext::Report(bool line_tagged, Level level, MessageId id,
                            std::string_view argument_format, MessageArgs args) {
  std::optional<std::string> entry;
  if (messages_ != nullptr) {
    entry = messages_->LoadMessage(static_cast<uint32_t>(id));
  } else if (const char* text = MessageText(id)) {
    entry = std::string(text);
  }
  if (!entry) return;
  std::string text = FormatMessage(*entry, argument_format, args);
  if (line_tagged) {
    text = FormatMessage("Line %1 : Col %2 : ", "%d:%d", {line_, column_}) + text;
  }
  ReportText(level, text);
}

void CompileContext::ReportText(Level level, const std::string& text) {
  switch (level) {
    case Level::kWarning:
      ++warnings_;
      break;
    case Level::kError:
    case Level::kFatal:
      ++errors_;
      break;
    case Level::kInformation:
      break;
  }
  if (messages_ != nullptr) messages_->Report(level, text);
}

void CompileContext::ParseError(bool is_error, MessageId id, std::string_view argument_format,
                                MessageArgs args) {
  if (is_error) parse_failed_ = true;
  Report(true, is_error ? Level::kFatal : Level::kWarning, id, argument_format, args);
}

bool CompileContext::KeepGoing() {
  if (progress_ != nullptr && !progress_->Pump()) running_.store(false);
  return running_.load();
}

void CompileContext::BeginProgress(uint64_t total) {
  progress_total_ = total;
  progress_done_ = 0;
  progress_shown_ = 0;
  if (progress_ != nullptr) progress_->Progress(ProgressCode::kBegin, 100);
}

void CompileContext::SetProgress(uint64_t done) {
  progress_done_ = done;
  if (progress_ == nullptr || progress_total_ == 0) return;
  uint64_t clamped = done < progress_total_ ? done : progress_total_;
  uint32_t percent = static_cast<uint32_t>(clamped * 100 / progress_total_);
  if (percent != progress_shown_) {
    progress_shown_ = percent;
    progress_->Progress(ProgressCode::kPercent, percent);
  }
}

void CompileContext::EndProgress() {
  if (progress_ != nullptr) progress_->Progress(ProgressCode::kEnd, 0);
}

bool CompileContext::ReplaceLeadingUnderscores() {
  return options_ != nullptr && options_->ReplaceLeadingUnderscores();
}

bool CompileContext::FixedSegmentation(uint32_t& size) {
  return options_ != nullptr && options_->FixedSegmentation(size);
}

bool CompileContext::ShouldSort(uint32_t subject_count) {
  return options_ != nullptr && options_->ShouldSort(subject_count);
}

bool CompileContext::SkipPictures() { return options_ != nullptr && options_->SkipPictures(); }

}  // namespace fvx::compiler
