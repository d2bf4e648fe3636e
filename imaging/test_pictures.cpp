#include "imaging/test_pictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageWriter>
#include <cstdlib>
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
