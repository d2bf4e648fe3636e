// The compile's log file and the line form shared by the log and the
// command line: level prefix, text, line feed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "compiler/base/interfaces.h"

namespace fvx::compiler {

// The log file's path for a source: "log_" + the source's file name with the
// extension ".txt", in the source's folder, or in log_directory when that is
// not empty (trailing separators trimmed; the folder is created, one level,
// errors ignored). Both "/" and "\" separate folders.
std::string LogFilePath(std::string_view source_path, std::string_view log_directory);

// prefix + text, without the line feed.
std::string LogLine(Level level, std::string_view text);

// A log file opened anew for writing; every line is flushed at once so that
// a crash or a cancel keeps what was logged.
class LogFile {
 public:
  LogFile() = default;
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Write(Level level, std::string_view text);
  void Close() { file_.reset(); }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

// A message sink that logs every line, drops warnings when they are disabled
// (they are still counted by the context), and passes each kept line on to
// another sink.
class LoggingMessageSink : public MessageSink {
 public:
  LoggingMessageSink(MessageSink* next, LogFile* log, bool disable_warnings)
      : next_(next), log_(log), disable_warnings_(disable_warnings) {}
  std::optional<std::string> LoadMessage(uint32_t id) override {
    return next_ ? next_->LoadMessage(id) : MessageSink::LoadMessage(id);
  }
  void Report(Level level, const std::string& text) override;

 private:
  MessageSink* next_;
  LogFile* log_;
  bool disable_warnings_;
};

}  // namespace fvx::compiler
