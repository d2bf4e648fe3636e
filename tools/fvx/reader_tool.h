// What the reader's commands share: opening a book through the document
// interface, and printing subject lines ("index<TAB>heading").
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/book_document.h"
#include "tools/fvx/command.h"

namespace fvx::tool {

inline const char* OpenCodeText(reader::OpenCode code) {
  switch (code) {
    case reader::OpenCode::kOk: return "ok";
    case reader::OpenCode::kDamaged: return "the book is damaged (out-code 1)";
    case reader::OpenCode::kNotABook: return "not a book (out-code 2)";
    case reader::OpenCode::kUnsupportedVersion: return "the book's format version is not supported (out-code 3)";
  }
  return "cannot be opened";
}

// The document, or null after a message on stderr.
inline std::unique_ptr<reader::BookDocument> OpenForCommand(const char* command,
                                                            const std::string& path) {
  auto document = std::make_unique<reader::BookDocument>();
  reader::OpenCode code = reader::OpenCode::kOk;
  if (!document->Open(path, &code)) {
    std::fprintf(stderr, "fvx %s: %s: %s", command, path.c_str(), OpenCodeText(code));
    if (!document->OpenFailure().empty()) std::fprintf(stderr, ": %s", document->OpenFailure().c_str());
    std::fprintf(stderr, "\n");
    return nullptr;
  }
  return document;
}

inline void PrintSubjectLine(reader::Document& document, uint32_t subject) {
  const std::string_view heading = document.Heading(subject);
  std::printf("%u\t", subject);
  std::fwrite(heading.data(), 1, heading.size(), stdout);
  std::fputc('\n', stdout);
}

inline void PrintSubjectLines(reader::Document& document, const std::vector<uint32_t>& subjects) {
  for (uint32_t subject : subjects) PrintSubjectLine(document, subject);
}

inline std::optional<uint32_t> ParseIndex(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace fvx::tool
