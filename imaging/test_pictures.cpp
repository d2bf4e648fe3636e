#include "imaging/test_pictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageWriter>
#include <cstdlib>
#include <zlib.h>
#include <fstream>
#include <iterator>

#include "imaging/mng_writer.h"

namespace fvx::imaging::testing {

QImage TwoColourPicture(int width, int height, QColor left, QColor right) {
  QImage image(width, height, QImage::Format_ARGB32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, y, (x < width / 2 ? left : right).rgba());
    }
  }
  return image;
}

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return {};
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) return {};
  return bytes.toStdString();
}

std::string EncodeGif(int width, int height, const std::vector<QRgb>& palette,
                      const std::vector<uint8_t>& indices) {
  std::string out = "GIF89a";
  auto put16 = [&](int value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
  };
  put16(width);
  put16(height);
  out.push_back(static_cast<char>(0x81));  // global table of 4 colours
  out.push_back(0);
  out.push_back(0);
  for (size_t i = 0; i < 4; ++i) {
    const QRgb colour = i < palette.size() ? palette[i] : 0;
    out.push_back(static_cast<char>(qRed(colour)));
    out.push_back(static_cast<char>(qGreen(colour)));
    out.push_back(static_cast<char>(qBlue(colour)));
  }
  out.push_back(',');
  put16(0);
  put16(0);
  put16(width);
  put16(height);
  out.push_back(0);
  out.push_back(2);  // minimum code size

  // Clearing the table after every two codes keeps every code 3 bits wide,
  // so the data need no real compression.
  std::string data;
  uint32_t bits = 0;
  int bit_count = 0;
  auto put_code = [&](uint32_t code) {
    bits |= code << bit_count;
    bit_count += 3;
    while (bit_count >= 8) {
      data.push_back(static_cast<char>(bits & 0xFF));
      bits >>= 8;
      bit_count -= 8;
    }
  };
  for (size_t i = 0; i < indices.size(); ++i) {
    if (i % 2 == 0) put_code(4);
    put_code(indices[i] & 3u);
  }
  put_code(5);
  if (bit_count > 0) data.push_back(static_cast<char>(bits & 0xFF));
  for (size_t at = 0; at < data.size(); at += 255) {
    const std::string piece = data.substr(at, 255);
    out.push_back(static_cast<char>(piece.size()));
    out += piece;
  }
  out.push_back(0);
  out.push_back(';');
  return out;
}

namespace {

void PutBigEndian(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  const size_t start = out->size();
  out->append(type, 4);
  out->append(data);
  const auto* crc_from = reinterpret_cast<const Bytef*>(out->data() + start);
  PutBigEndian(out, static_cast<uint32_t>(crc32(0, crc_from, static_cast<uInt>(4 + data.size()))));
}

}  // namespace

std::string EncodeLargeBlankPng(uint32_t width, uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian(&header, width);
  PutBigEndian(&header, height);
  header += std::string("\x01\x00\x00\x00\x00", 5);  // 1-bit grey, no interlace
  PutChunk(&png, "IHDR", header);
  // Rows of a filter byte and zero bits, deflated a row at a time.
  const size_t row = 1 + (width + 7) / 8;
  const std::string zeros(row, '\0');
  z_stream z{};
  deflateInit(&z, 9);
  std::string compressed;
  std::vector<unsigned char> out(1 << 16);
  for (uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = last ? 0 : static_cast<uInt>(row);
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  PutChunk(&png, "IDAT", compressed);
  PutChunk(&png, "IEND", "");
  return png;
}

std::string EncodeMng(const std::vector<QImage>& frames) {
  std::vector<std::string> pngs;
  for (const QImage& frame : frames) pngs.push_back(Encode(frame, "png"));
  return BuildMng(pngs, 100, 10).value_or(std::string());
}

std::string EncodeJng(const QImage& image) {
  return BuildJng(Encode(image.convertToFormat(QImage::Format_RGB32), "jpeg"))
      .value_or(std::string());
}

bool WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool NearColour(QRgb actual, QColor expected, int tolerance) {
  return std::abs(qRed(actual) - expected.red()) <= tolerance &&
         std::abs(qGreen(actual) - expected.green()) <= tolerance &&
         std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

bool MemoryTarget::Write(const void* data, size_t count) {
  if (refuse_writes_past && position + count > *refuse_writes_past) return false;
  if (bytes.size() < position + count) bytes.resize(position + count);
  bytes.replace(position, count, static_cast<const char*>(data), count);
  position += count;
  bytes_written += count;
  return true;
}

std::optional<uint64_t> MemoryTarget::Tell() {
  if (refuse_tell) return std::nullopt;
  return position;
}

bool MemoryTarget::Seek(uint64_t target) {
  if (target > bytes.size()) return false;
  position = target;
  return true;
}

}  // namespace fvx::imaging::testing
