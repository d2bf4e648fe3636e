// The message area's lines: the character 3, a colour pair "FF,BB" of the
// drawing library's palette and the level prefix, then the text, e.g.
//   "\x03" "03,00" "[ Warning ] Line 4 : Col 2 : ..."
// and what the window needs from such a line again.
#pragma once

#include <QColor>
#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "compiler/base/interfaces.h"

namespace fvx::compiler::window {

// The line for a compiler message: warning "03,00", error "13,00", fatal
// error "07,00" (each with its log prefix), information "01,00".
std::string AreaLine(Level level, std::string_view text);
// A line the window adds itself, in the given colour pair ("07,00").
std::string ColouredLine(std::string_view colours, std::string_view text);

struct ParsedLine {
  int foreground = 1;
  int background = 0;
  std::string text;  // without the colour pair
};
// Lines without a colour pair keep the whole text in the default colours.
ParsedLine ParseAreaLine(std::string_view line);

// Palette index to a colour readable on the given background: the dark
// variant when the window's base colour is dark. Index 0 as a background is
// the window's own base, so light and dark themes keep their look.
QColor PaletteColour(int index, bool dark_theme);

// The source line a message is about ("Line 12 : Col 3 : ..." anywhere in
// the text after the prefix), or nullopt.
std::optional<int> SourceLineOf(std::string_view text);

// Characters 0..255 as the compiler holds them, shown as Latin-1.
inline QString AreaText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace fvx::compiler::window
