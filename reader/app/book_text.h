// Book text (headings, pages) in Qt's strings, in the book's character set
// (see reader/book_charset.h for how the set is decided).
#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>

namespace fvx::reader {
class BookDocument;
}

namespace fvx::reader::app {

// The character set name used for the book's pages and list rows: the
// header's when Qt knows it, else what the headings tell.
QByteArray BookCharset(BookDocument& document);

// Text of the book as Unicode, and back (link texts return to the engine in
// the book's own bytes).
QString DecodeBookText(std::string_view bytes, const QByteArray& charset);
QByteArray EncodeBookText(const QString& text, const QByteArray& charset);

}  // namespace fvx::reader::app
