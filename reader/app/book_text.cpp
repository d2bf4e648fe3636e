#include "reader/app/book_text.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>

#include "reader/book_charset.h"
#include "reader/book_document.h"

namespace fvx::reader::app {
namespace {

// 0x80-0x9F of Windows-1252 (0 where the code page has no character).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

bool IsCp1252(const QByteArray& charset) {
  const QByteArray lower = charset.toLower();
  return lower == "windows-1252" || lower == "cp1252" || lower == "iso-8859-1" ||
         lower == "latin1";
}

QString DecodeCp1252(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] != 0) {
      text += QChar(kCp1252High[byte - 0x80]);
    } else {
      text += QChar(byte);
    }
  }
  return text;
}

QByteArray EncodeCp1252(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (QChar ch : text) {
    const char16_t unit = ch.unicode();
    if (unit < 0x100) {
      bytes.push_back(static_cast<char>(unit));
      continue;
    }
    const char16_t* found = std::find(std::begin(kCp1252High), std::end(kCp1252High), unit);
    bytes.push_back(found != std::end(kCp1252High)
                        ? static_cast<char>(0x80 + (found - std::begin(kCp1252High)))
                        : '?');
  }
  return bytes;
}

}  // namespace

QByteArray BookCharset(BookDocument& document) {
  const std::string& named = document.layout().header.character_set;
  if (!named.empty()) {
    const QByteArray charset = QByteArray::fromStdString(named);
    if (IsCp1252(charset) || QStringDecoder(charset.constData()).isValid()) return charset;
  }
  return QByteArray::fromStdString(CharsetFromHeadings(document));
}

QString DecodeBookText(std::string_view bytes, const QByteArray& charset) {
  if (charset.isEmpty() || IsCp1252(charset)) return DecodeCp1252(bytes);
  QStringDecoder decoder(charset.constData());
  if (!decoder.isValid()) return DecodeCp1252(bytes);
  return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QByteArray EncodeBookText(const QString& text, const QByteArray& charset) {
  if (charset.isEmpty() || IsCp1252(charset)) return EncodeCp1252(text);
  QStringEncoder encoder(charset.constData());
  if (!encoder.isValid()) return EncodeCp1252(text);
  return encoder.encode(text);
}

}  // namespace fvx::reader::app
