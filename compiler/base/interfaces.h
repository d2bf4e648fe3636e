// The three links through which the compile engine reaches a user interface.
// The engine never touches a window: a dialog, the command line or a test
// implements these and hands them to CBookCompiler.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fvx::compiler {

// Message levels; the numbers are the ones scripts and logs know.
enum class Level : int { kWarning = 0, kError = 1, kFatal = 2, kInformation = 3 };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // The string-table text of an entry, or nullopt when there is none. The
  // default answers from the built-in table (messages.def).
  virtual std::optional<std::string> LoadMessage(uint32_t id);
  // One finished message (without level prefix): show it and log it. Called
  // for every message, warnings included: dropping warnings when the user
  // disabled them is the sink's decision (they are counted regardless).
  virtual void Report(Level level, const std::string& text) = 0;
};

enum class ProgressCode : int { kBegin = 0, kPercent = 1, kEnd = 2 };

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // kBegin with value 100 (the range is 0..100), kPercent with 0..100, kEnd.
  virtual void Progress(ProgressCode code, uint32_t value) = 0;
  // Called from every long loop of the compile (KeepGoing). A window pumps
  // its pending events here, during which its stop button may cancel the
  // compile. Returning false cancels too (the application is quitting, or
  // the command line saw Ctrl-C).
  virtual bool Pump() { return true; }
};

// Answers in the order the compile asks them; each is asked at most once per
// compile.
class OptionsProvider {
 public:
  virtual ~OptionsProvider() = default;
  // Whether leading "_" of subject headings become spaces.
  virtual bool ReplaceLeadingUnderscores() = 0;
  // REQUIRES: size preset (the compile presets 16). True when the user fixed
  // the search segmentation; size is then set to it, else left alone.
  virtual bool FixedSegmentation(uint32_t& size) = 0;
  // Whether an unsorted book of subject_count subjects is to be sorted.
  virtual bool ShouldSort(uint32_t subject_count) = 0;
  virtual bool SkipPictures() = 0;
};

}  // namespace fvx::compiler
