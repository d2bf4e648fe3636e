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

#include "bookformat/book_verifier.h"
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

// The words without "--verify", which every reader command takes: *verify
// says whether it was there.
inline std::vector<std::string> TakeVerify(const std::vector<std::string>& args, bool* verify) {
  std::vector<std::string> rest;
  *verify = false;
  for (const std::string& a : args) {
    if (a == "--verify") {
      *verify = true;
    } else {
      rest.push_back(a);
    }
  }
  return rest;
}

// The document, or null after a message on stderr. With verify the book's
// digest must match first (changes that still decode are found only so),
// and the whole book must pass the checks of "fvx verify".
inline std::unique_ptr<reader::BookDocument> OpenForCommand(const char* command,
                                                            const std::string& path,
                                                            bool verify = false) {
  auto document = std::make_unique<reader::BookDocument>();
  reader::OpenCode code = reader::OpenCode::kOk;
  if (!document->Open(path, &code)) {
    std::fprintf(stderr, "fvx %s: %s: %s", command, path.c_str(), OpenCodeText(code));
    if (!document->OpenFailure().empty()) std::fprintf(stderr, ": %s", document->OpenFailure().c_str());
    std::fprintf(stderr, "\n");
    return nullptr;
  }
  if (verify && !document->DigestMatches()) {
    std::fprintf(stderr, "fvx %s: %s: the book is damaged: its integrity digest does not match\n",
                 command, path.c_str());
    return nullptr;
  }
  // Header counts lie outside the digest: every one is checked against its
  // section, with every block and table, as "fvx verify" does.
  format::BookCheck check;
  if (verify && !format::VerifyBook(path, &check)) {
    std::fprintf(stderr, "fvx %s: %s: the book is damaged: %s\n", command, path.c_str(),
                 check.problem.c_str());
    return nullptr;
  }
  return document;
}

// A command's exit status once it is done: when the engine met damage on
// the way, stderr names what could not be read, marks what was printed as
// incomplete, and the status is a failure.
inline int FinishCommand(const char* command, const reader::Document& document, int status) {
  const std::vector<std::string>& damage = document.DamageFound();
  if (damage.empty()) return status;
  std::string list;
  for (const std::string& what : damage) list += (list.empty() ? "" : "; ") + what;
  std::fflush(stdout);
  std::fprintf(stderr, "fvx %s: %s: the book is damaged, these could not be read: %s\n", command,
               document.FilePath().c_str(), list.c_str());
  std::fprintf(stderr, "fvx %s: what was printed above is incomplete\n", command);
  return kExitFailed;
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
