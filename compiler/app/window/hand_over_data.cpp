#include "compiler/app/window/hand_over_data.h"

#include "compiler/frontend/source_reader_factory.h"

#include <unistd.h>

#include <cstdio>

namespace fvx::compiler::window {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  bool have_file = false;
  for (const std::string& argument : arguments) {
    if (!argument.empty() && (argument[0] == '/' || argument[0] == '-')) {
      std::string_view flag(argument);
      flag.remove_prefix(1);
      if (flag.substr(0, 5) == "insid") {
        size_t colon = flag.find(':');
        line.insid = colon == std::string_view::npos ? std::string() : std::string(flag.substr(colon + 1));
        continue;
      }
      // An absolute path is a file, not a flag: one with a further "/", or
      // one that names an existing file ("/atlas.txt" in the root).
      const bool path = argument[0] == '/' && (argument.find('/', 1) != std::string::npos ||
                                                ::access(argument.c_str(), F_OK) == 0);
      if (!path) continue;
    }
    if (!have_file) {
      line.file = argument;
      have_file = true;
    }
  }
  return line;
}

std::string CompilerHandOverBuffer(std::string_view insid, std::string_view path) {
  std::string buffer(insid);
  buffer += '\0';
  buffer += path;
  buffer += '\0';
  return buffer;
}

std::optional<CompilerHandOver> ParseCompilerHandOver(uint32_t id, std::string_view buffer) {
  if (id != kCompilerHandOver || buffer.empty()) return std::nullopt;
  CompilerHandOver result;
  size_t end = buffer.find('\0');
  result.insid = std::string(buffer.substr(0, end));
  if (result.insid.size() == 8 && buffer.size() > 9) {
    std::string_view rest = buffer.substr(9);
    result.file = std::string(rest.substr(0, rest.find('\0')));
  }
  return result;
}

std::string ProcessInsid(uint32_t pid) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", pid);
  return text;
}

std::string ReaderHandOverBuffer(std::string_view insid, std::string_view book,
                                 std::string_view heading) {
  std::string buffer(insid);
  buffer += '\0';
  buffer += book;
  buffer += '\0';
  buffer += heading;
  buffer += '\0';
  return buffer;
}

std::vector<std::string> ReaderArguments(const std::string& book, const std::string& insid,
                                         const std::string& heading) {
  std::vector<std::string> arguments{book};
  if (!heading.empty()) {
    arguments.push_back("/qf");
    arguments.push_back(heading);
  }
  arguments.push_back("/insid");
  arguments.push_back(insid);
  return arguments;
}

std::string SourceExtension(std::string_view path) {
  // The engine decides which sources it reads; the window only names them.
  switch (SourceKindOf(path)) {
    case SourceKind::kText:
      return ".txt";
    case SourceKind::kFvBook:
      return ".fv";
    case SourceKind::kUnknown:
      break;
  }
  return {};
}

}  // namespace fvx::compiler::window
