// Pictures and save targets made in memory for the imaging and plug-in tests.
#pragma once

#include <QColor>
#include <QImage>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image_library.h"

namespace fvx::imaging::testing {

// Left half one colour, right half another: a resize keeps both sides
// recognisable, and a decoded pixel tells whether the right picture came back.
QImage TwoColourPicture(int width, int height, QColor left, QColor right);

// The picture encoded by Qt ("png", "jpeg", "bmp"); empty when Qt cannot.
std::string Encode(const QImage& image, const char* format);

// A GIF of up to four palette colours (Qt has no GIF encoder). indices holds
// width × height palette indices, row by row.
std::string EncodeGif(int width, int height, const std::vector<QRgb>& palette,
                      const std::vector<uint8_t>& indices);

// An MNG animation of the given frames (PNG inside), 10 ticks a frame.
std::string EncodeMng(const std::vector<QImage>& frames);
// A JNG holding the picture as JPEG.
std::string EncodeJng(const QImage& image);

// A valid black-and-white PNG of width × height pixels that compresses to
// a small file however large it claims to be (a decompression bomb).
std::string EncodeLargeBlankPng(uint32_t width, uint32_t height);

bool WriteFile(const std::string& path, std::string_view bytes);
std::optional<std::string> ReadFile(const std::string& path);

// Colour channels within tolerance (JPEG moves colours a little).
bool NearColour(QRgb actual, QColor expected, int tolerance = 12);

// A seekable in-memory file behind the save callbacks, counting the bytes it
// was handed; it can be told to refuse writes from some byte on.
class MemoryTarget final : public SaveTarget {
 public:
  bool Write(const void* data, size_t count) override;
  std::optional<uint64_t> Tell() override;
  bool Seek(uint64_t position) override;

  std::string bytes;
  uint64_t position = 0;
  uint64_t bytes_written = 0;
  std::optional<uint64_t> refuse_writes_past;
  bool refuse_tell = false;
};

}  // namespace fvx::imaging::testing
