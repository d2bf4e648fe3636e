// The compiler hands a finished book to the reader that started it:
//
//   data-id := "FVXQ" (four ASCII bytes as a little-endian u32)
//   data    := pid8 NUL path NUL heading NUL     -- pid8: the reader's pid, "%08X"
//
// with more than 10 + length(path) bytes in all. Only the reader whose pid
// the message carries takes the book.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fvx::reader::app {

inline constexpr uint32_t kHandOverDataId = 0x51585646;  // "FVXQ"
inline constexpr const char* kReaderWindowClass = "QuillstoneFolivox3Lite";

struct HandOver {
  std::string path;
  std::string heading;  // empty: show the book's usual first page
};

// nullopt unless the message is meant for the reader with own_pid and is
// laid out as above.
std::optional<HandOver> ParseHandOver(uint32_t data_id, std::string_view data, int64_t own_pid,
                                      int64_t sender_pid);

// The message the compiler sends (its tests and the compiler use it).
std::string BuildHandOver(int64_t reader_pid, std::string_view path, std::string_view heading);

// "%08X" of a pid.
std::string PidText(int64_t pid);

}  // namespace fvx::reader::app
