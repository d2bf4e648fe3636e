#include "compiler/app/window/message_lines.h"

#include <cstdio>

#include "compiler/base/message_log.h"

namespace fvx::compiler::window {
namespace {

const char* ColoursOf(Level level) {
  switch (level) {
    case Level::kWarning: return "03,00";
    case Level::kError: return "13,00";
    case Level::kFatal: return "07,00";
    case Level::kInformation: break;
  }
  return "01,00";
}

int TwoDigits(std::string_view text) {
  if (text.size() < 2 || text[0] < '0' || text[0] > '9' || text[1] < '0' || text[1] > '9') return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

}  // namespace

std::string AreaLine(Level level, std::string_view text) {
  // LogLine carries the level prefix (information has none).
  return ColouredLine(ColoursOf(level), LogLine(level, text));
}

std::string ColouredLine(std::string_view colours, std::string_view text) {
  std::string line = "\x03";
  line += colours;
  line += text;
  return line;
}

ParsedLine ParseAreaLine(std::string_view line) {
  ParsedLine parsed;
  if (line.size() >= 6 && line[0] == '\x03' && line[3] == ',') {
    int foreground = TwoDigits(line.substr(1));
    int background = TwoDigits(line.substr(4));
    if (foreground >= 0 && background >= 0) {
      parsed.foreground = foreground;
      parsed.background = background;
      parsed.text = std::string(line.substr(6));
      return parsed;
    }
  }
  parsed.text = std::string(line);
  return parsed;
}

QColor PaletteColour(int index, bool dark_theme) {
  // The sixteen colours of the drawing library's palette; the dark-theme
  // column lifts the dark ones so that they stay readable on a dark base.
  struct Entry {
    QRgb light;
    QRgb dark;
  };
  static constexpr Entry kPalette[16] = {
      {0xFFFFFF, 0x000000},  // 00 white (the background)
      {0x000000, 0xE8E8E8},  // 01 black: information
      {0x00007F, 0x8CA8FF},  // 02 navy
      {0x007F00, 0x5FD35F},  // 03 green: warnings
      {0xC00000, 0xFF6B6B},  // 04 red
      {0x7F0000, 0xE07A5F},  // 05 maroon
      {0x9C009C, 0xE080E0},  // 06 purple
      {0xC06000, 0xFFA94D},  // 07 orange: fatal errors
      {0xA08000, 0xFFE066},  // 08 yellow
      {0x00A000, 0x8CE99A},  // 09 light green
      {0x008080, 0x66D9D9},  // 10 teal
      {0x0090A0, 0x99E9F2},  // 11 cyan
      {0x0000C0, 0x74A0FF},  // 12 blue
      {0xD00070, 0xFF7EB9},  // 13 pink: errors
      {0x606060, 0xA0A0A0},  // 14 grey
      {0x909090, 0xC8C8C8},  // 15 light grey
  };
  if (index < 0 || index > 15) index = 1;
  return QColor::fromRgb(dark_theme ? kPalette[index].dark : kPalette[index].light);
}

std::optional<int> SourceLineOf(std::string_view text) {
  size_t at = text.find("Line ");
  while (at != std::string_view::npos) {
    unsigned line = 0, column = 0;
    int used = 0;
    std::string rest(text.substr(at, 64));
    if (std::sscanf(rest.c_str(), "Line %u : Col %u :%n", &line, &column, &used) == 2 && used > 0 &&
        line > 0 && line < 0x7FFFFFFF) {
      return static_cast<int>(line);
    }
    at = text.find("Line ", at + 1);
  }
  return std::nullopt;
}

}  // namespace fvx::compiler::window
