// The state one compile shares between its stages: the client links, the
// error and warning counters, the compile-running flag, the current source
// position for line-tagged messages, and the parse-failed flag.
//
// Call order: Begin() at the start of a compile (resets the counters and
// sets the running flag once the work database is open), then Report /
// ParseError / KeepGoing from any stage, End() when the compile is over.
// Cancel() may be called at any time, also from inside Pump().
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "compiler/base/interfaces.h"
#include "compiler/base/message_format.h"
#include "compiler/base/messages.h"

namespace fvx::compiler {

class CompileContext {
 public:
  // Any link may be null: messages then go nowhere (they are still counted),
  // progress is not shown, and the options take their defaults.
  CompileContext(MessageSink* messages, ProgressSink* progress, OptionsProvider* options)
      : messages_(messages), progress_(progress), options_(options) {}
  CompileContext(const CompileContext&) = delete;
  CompileContext& operator=(const CompileContext&) = delete;

  MessageSink* messages() const { return messages_; }
  ProgressSink* progress() const { return progress_; }
  OptionsProvider* options() const { return options_; }

  // Counters to zero, running flag and parse-failed flag cleared.
  void Reset();
  void SetRunning(bool running) { running_.store(running); }
  bool IsRunning() const { return running_.load(); }
  // The stop button: the running compile notices it at its next KeepGoing.
  void Cancel() { running_.store(false); }

  uint32_t errors() const { return errors_; }
  uint32_t warnings() const { return warnings_; }

  // Position of the token being processed (1-based line and column).
  void SetPosition(uint32_t line, uint32_t column) {
    line_ = line;
    column_ = column;
  }
  uint32_t line() const { return line_; }
  uint32_t column() const { return column_; }

  // Formats one string-table message (the entry's placeholders filled from
  // args by argument_format; a line-tagged message prefixed with
  // "Line %1 : Col %2 : "), counts it by its level and delivers it. An id
  // without an entry is neither delivered nor counted.
  void Report(bool line_tagged, Level level, MessageId id, std::string_view argument_format = {},
              MessageArgs args = {});
  // Delivers a finished text (no table lookup), counted like Report.
  void ReportText(Level level, const std::string& text);

  // A front-end problem at the current position: with is_error, a fatal
  // line-tagged message that also marks the parse as failed; otherwise a
  // line-tagged warning.
  void ParseError(bool is_error, MessageId id, std::string_view argument_format = {},
                  MessageArgs args = {});
  bool parse_failed() const { return parse_failed_; }
  void SetParseFailed() { parse_failed_ = true; }

  // Lets the user interface breathe (ProgressSink::Pump) and tells whether
  // the compile is still to go on. A false answer from Pump cancels.
  bool KeepGoing();

  // Progress over a total of `total` steps, shown as 0..100 to the sink;
  // only changes of the percentage reach it.
  void BeginProgress(uint64_t total);
  void SetProgress(uint64_t done);
  void AdvanceProgress(uint64_t steps) { SetProgress(progress_done_ + steps); }
  void EndProgress();

  // Options with their defaults when no provider is linked.
  bool ReplaceLeadingUnderscores();
  bool FixedSegmentation(uint32_t& size);
  bool ShouldSort(uint32_t subject_count);
  bool SkipPictures();

 private:
  MessageSink* messages_;
  ProgressSink* progress_;
  OptionsProvider* options_;
  std::atomic<bool> running_{false};
  uint32_t errors_ = 0;
  uint32_t warnings_ = 0;
  uint32_t line_ = 0;
  uint32_t column_ = 0;
  bool parse_failed_ = false;
  uint64_t progress_total_ = 0;
  uint64_t progress_done_ = 0;
  uint32_t progress_shown_ = 0;
};

}  // namespace fvx::compiler
