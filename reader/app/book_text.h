// Book text (headings, pages) is stored one byte a character in the book's
// character set: the header names it, or, when it names none, the headings
// tell: valid UTF-8 with multi-byte sequences means UTF-8, anything else
// Windows-1252.
#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>

namespace fvx::reader {
class BookDocument;
}

namespace fvx::reader::app {

// The character set name used for the book's pages and list rows.
QByteArray BookCharset(BookDocument& document);

// Whether bytes are valid UTF-8 and hold at least one multi-byte sequence.
bool LooksLikeUtf8(std::string_view bytes, bool* has_multibyte);

// Text of the book as Unicode, and back (link texts return to the engine in
// the book's own bytes).
QString DecodeBookText(std::string_view bytes, const QByteArray& charset);
QByteArray EncodeBookText(const QString& text, const QByteArray& charset);

}  // namespace fvx::reader::app
