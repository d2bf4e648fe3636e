// Formatting of compiler messages: string-table text with %1..%9
// placeholders, filled from typed arguments converted by the printf
// conversions of an argument-format text ("%s:%d", "%s:%.2f", ...).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "compiler/base/interfaces.h"

namespace fvx::compiler {

// One argument. Built implicitly from integers, doubles and texts, so callers
// write Report(..., "%s:%d", {heading, line}).
class MessageArg {
 public:
  using Value = std::variant<int64_t, uint64_t, double, std::string>;

  MessageArg(int v) : value_(int64_t{v}) {}
  MessageArg(long v) : value_(int64_t{v}) {}
  MessageArg(long long v) : value_(int64_t{v}) {}
  MessageArg(unsigned v) : value_(uint64_t{v}) {}
  MessageArg(unsigned long v) : value_(uint64_t{v}) {}
  MessageArg(unsigned long long v) : value_(uint64_t{v}) {}
  MessageArg(double v) : value_(v) {}
  MessageArg(const char* v) : value_(std::string(v ? v : "")) {}
  MessageArg(std::string_view v) : value_(std::string(v)) {}
  MessageArg(const std::string& v) : value_(v) {}

  const Value& value() const { return value_; }

 private:
  Value value_;
};

using MessageArgs = std::initializer_list<MessageArg>;

// Converts one argument by one printf conversion ("%d", "%.2f", "%08X",
// "%s", ...). Length modifiers in the conversion are ignored: the argument's
// own type decides the width. A mismatch (a text for "%d") is converted
// sensibly rather than read as garbage.
std::string ConvertArgument(std::string_view conversion, const MessageArg& arg);

// Fills text's placeholders: "%n" takes argument n converted by conversion n
// of argument_format (colon-separated); a placeholder without an argument
// becomes empty; "%%" becomes "%"; any other "%" stays as written.
std::string FormatMessage(std::string_view text, std::string_view argument_format,
                          MessageArgs args);

// "[ Warning ] ", "[  Error  ] ", "[  Fatal Error  ] ", or "" for information.
const char* LevelPrefix(Level level);
// The message area's colour pair: "03,00", "13,00", "07,00", "01,00".
const char* LevelColour(Level level);

// "%d Bytes", "%.2f KB" or "%.2f MB" of the low 32 bits of byte_count.
std::string SizeText(uint64_t byte_count);

}  // namespace fvx::compiler
