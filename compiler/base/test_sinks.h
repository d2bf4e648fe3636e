// Sinks that record what the compile says, for tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "compiler/base/interfaces.h"
#include "compiler/base/message_log.h"

namespace fvx::compiler {

class RecordingMessageSink : public MessageSink {
 public:
  void Report(Level level, const std::string& text) override { lines.emplace_back(level, text); }
  // Every message as its log line ("[ Warning ] text").
  std::vector<std::string> LogLines() const {
    std::vector<std::string> out;
    for (const auto& [level, text] : lines) out.push_back(LogLine(level, text));
    return out;
  }
  bool Has(Level level, const std::string& text) const {
    for (const auto& line : lines) {
      if (line.first == level && line.second == text) return true;
    }
    return false;
  }
  std::vector<std::pair<Level, std::string>> lines;
};

// Cancels after a given number of pumps.
class CancellingProgressSink : public ProgressSink {
 public:
  explicit CancellingProgressSink(int pumps_before_cancel) : left_(pumps_before_cancel) {}
  void Progress(ProgressCode, uint32_t) override {}
  bool Pump() override {
    ++pumps;
    return left_-- > 0;
  }
  int pumps = 0;

 private:
  int left_;
};

struct FixedOptions : OptionsProvider {
  bool replace_underscores = false;
  bool fixed_segmentation = false;
  uint32_t segmentation = 0;
  bool sort = false;
  bool skip_pictures = false;
  int sort_questions = 0;
  bool ReplaceLeadingUnderscores() override { return replace_underscores; }
  bool FixedSegmentation(uint32_t& size) override {
    if (fixed_segmentation) size = segmentation;
    return fixed_segmentation;
  }
  bool ShouldSort(uint32_t) override {
    ++sort_questions;
    return sort;
  }
  bool SkipPictures() override { return skip_pictures; }
};

}  // namespace fvx::compiler
