// What the compiler's instances and the reader say to each other: the
// command line, the "FVXC" hand-over of a source file from a second start,
// and the "FVXQ" hand-over of a finished book to the reader (or, when no
// reader takes it, the reader's command line).
//
// Buffers are the bytes of the message after its 32-bit identifier:
//   FVXC := insid 0x00 path 0x00
//   FVXQ := insid 0x00 book 0x00 heading 0x00
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fvx::compiler::window {

// The identifiers as the four ASCII bytes read as a little-endian number.
constexpr uint32_t FourCc(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(text[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}
inline constexpr uint32_t kCompilerHandOver = FourCc("FVXC");
inline constexpr uint32_t kReaderHandOver = FourCc("FVXQ");

// The compiler window's title, under which a second start finds it, and the
// reader's window class, under which the compiler finds readers.
inline constexpr char kCompilerTitle[] = "Fvx Compiler";
inline constexpr char kReaderClass[] = "QuillstoneFolivox3Lite";

struct CommandLine {
  std::string file;   // the first argument that is not a flag
  std::string insid;  // after the first ":" of a flag whose text begins with "insid"
};

// Flags start with "/" or "-"; other flags are ignored.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

std::string CompilerHandOverBuffer(std::string_view insid, std::string_view path);

// What a received "FVXC" buffer asks for. Every accepted buffer sets the
// instance identifier; only an identifier of exactly 8 characters followed
// by more bytes names a file.
struct CompilerHandOver {
  std::string insid;
  std::optional<std::string> file;
};
std::optional<CompilerHandOver> ParseCompilerHandOver(uint32_t id, std::string_view buffer);

// The process identifier as 8 upper-case hexadecimal digits.
std::string ProcessInsid(uint32_t pid);

std::string ReaderHandOverBuffer(std::string_view insid, std::string_view book,
                                 std::string_view heading = {});

// The reader's arguments when the compiler starts it: the book, then
// "/qf" and the heading when one is given, then "/insid" and the identifier.
// Each is one argument of its own, which is what the quoting makes of them
// on a shell command line.
std::vector<std::string> ReaderArguments(const std::string& book, const std::string& insid,
                                         const std::string& heading = {});

// A source the compiler takes: ".txt" or ".fv" after the last "." of the
// file name (the name starts after the last "/", "\" or, failing those, ":"),
// in any case. Empty when the path names no such file.
std::string SourceExtension(std::string_view path);

}  // namespace fvx::compiler::window
