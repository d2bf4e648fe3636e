#include "compiler/base/message_log.h"

#include <sys/stat.h>

#include "compiler/base/message_format.h"
#include "platform/paths.h"

namespace fvx::compiler {

std::string LogFilePath(std::string_view source_path, std::string_view log_directory) {
  size_t separator = platform::LastPathSeparator(source_path);
  std::string_view folder =
      separator == std::string_view::npos ? std::string_view() : source_path.substr(0, separator + 1);
  std::string_view name =
      separator == std::string_view::npos ? source_path : source_path.substr(separator + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  std::string file_name = "log_" + std::string(name) + ".txt";

  std::string directory(log_directory);
  while (!directory.empty() && (directory.back() == '/' || directory.back() == '\\')) {
    directory.pop_back();
  }
  if (directory.empty()) {
    // A directory of only separators is the root; an empty one means beside the source.
    if (!log_directory.empty()) return "/" + file_name;
    return std::string(folder) + file_name;
  }
  ::mkdir(directory.c_str(), 0777);  // one level; a failure shows when the log is opened
  return directory + "/" + file_name;
}

std::string LogLine(Level level, std::string_view text) {
  std::string line = LevelPrefix(level);
  line += text;
  return line;
}

bool LogFile::Open(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "wb"));
  return file_ != nullptr;
}

void LogFile::Write(Level level, std::string_view text) {
  if (!file_) return;
  std::string line = LogLine(level, text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), file_.get());
  std::fflush(file_.get());
}

void LoggingMessageSink::Report(Level level, const std::string& text) {
  if (level == Level::kWarning && disable_warnings_) return;
  if (log_ != nullptr) log_->Write(level, text);
  if (next_ != nullptr) next_->Report(level, text);
}

}  // namespace fvx::compiler
