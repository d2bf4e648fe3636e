// The image library the compiler uses to load, resize and re-encode pictures.
//
// This header is plain C++ on purpose: the compiler back end is engine code
// and takes an `ImageLibrary*`, so its tests can hand it a fake. The real
// library (imaging/qt_image_library.h, target fvx_imaging) is made by
// CreateQtImageLibrary(); programs that must start without Qt open it at run
// time instead (imaging/image_library_loader.h).
//
// Call order:
//   Initialize(plugin_directory)   once, before the first Load; plug-ins in
//                                  that folder add formats (MNG/JNG: Vjng)
//   Load / Resize / Save           any number of times, on one thread
//   Shutdown()                     once; the destructor does it too
// Bitmaps are independent of the library: they stay valid after Shutdown and
// are freed by destroying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace fvx::imaging {

// The format of the file a bitmap was loaded from.
enum class PictureFormat : uint8_t { kOther, kJpeg, kBmp, kPng, kGif, kMng, kJng };

inline std::string_view PictureFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kJpeg: return "jpeg";
    case PictureFormat::kBmp: return "bmp";
    case PictureFormat::kPng: return "png";
    case PictureFormat::kGif: return "gif";
    case PictureFormat::kMng: return "mng";
    case PictureFormat::kJng: return "jng";
    case PictureFormat::kOther: break;
  }
  return "other";
}

// Zero is success, as the compiler expects of every call.
enum class ImageStatus : uint8_t {
  kOk = 0,
  kCannotOpen,         // the file is missing or unreadable
  kUnknownFormat,      // no built-in format or plug-in recognises the content
  kCorrupt,            // recognised, but decoding failed
  kTooLarge,           // the pixels would pass the allocation limit
  kBadSize,            // a resize to a width or height below 1 or too large
  kForeignBitmap,      // a bitmap made by another ImageLibrary implementation
  kUnknownSaveFormat,  // not "jpeg", "bmp" or "png"
  kWriteFailed,        // the save target refused a write, tell or seek
};

std::string_view ImageStatusText(ImageStatus status);

// A decoded picture. Implementations add the pixels; callers see only this.
class Bitmap {
 public:
  virtual ~Bitmap() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Bits per pixel of the picture's colours as the file holds them
  // (1, 4, 8 for palettes and grey, 24 for colour, 32 with alpha, 48/64 deep).
  virtual int BitsPerPixel() const = 0;
  virtual int XDpi() const = 0;
  virtual int YDpi() const = 0;
  // The format of the file it was loaded from; a resized copy keeps it.
  virtual PictureFormat Format() const = 0;
};

// Where Save writes: the write, tell and seek callbacks of the caller's file.
// An encoder writes from the position Tell() gives at the start of Save and
// may seek back inside what it wrote.
class SaveTarget {
 public:
  virtual ~SaveTarget() = default;
  [[nodiscard]] virtual bool Write(const void* data, size_t count) = 0;
  virtual std::optional<uint64_t> Tell() = 0;
  [[nodiscard]] virtual bool Seek(uint64_t position) = 0;
};

// The usual target: a platform::File at its current position (the compiler
// seeks its picture spill file to the end first).
class FileSaveTarget final : public SaveTarget {
 public:
  explicit FileSaveTarget(platform::File& file) : file_(file) {}
  bool Write(const void* data, size_t count) override { return file_.Write(data, count); }
  std::optional<uint64_t> Tell() override { return file_.Tell(); }
  bool Seek(uint64_t position) override { return file_.Seek(position); }

 private:
  platform::File& file_;
};

struct FormatInfo {
  std::string name;         // lower case: "png", "mng", …
  std::string description;  // "Multiple Network Graphics"; may be empty for built-ins
  std::string provider;     // empty for built-in formats, else the plug-in's name
};

// Pictures with more pixels than this are refused before they are decoded
// (8192 x 8192; real pictures in books are far smaller, and a small file
// can claim a huge picture).
inline constexpr uint64_t kDefaultPixelLimit = uint64_t{64} << 20;

class ImageLibrary {
 public:
  virtual ~ImageLibrary() = default;

  // Load refuses (kTooLarge) a picture of more pixels, judged from its
  // header before decoding; the decoder's memory is bounded to match.
  virtual void SetPixelLimit(uint64_t max_pixels) { pixel_limit_ = max_pixels; }
  uint64_t PixelLimit() const { return pixel_limit_; }

  // Loads every image plug-in found in the folder ("/" or "\" separators);
  // files that are not plug-ins are skipped. A missing folder adds nothing.
  // REQUIRES: not initialised yet (a second call is ignored).
  virtual void Initialize(const std::string& plugin_directory) = 0;
  // Unloads the plug-ins; their formats are gone afterwards.
  virtual void Shutdown() = 0;

  // Formats that Load can read, plug-in formats included.
  virtual std::vector<FormatInfo> ReadableFormats() const = 0;

  // The path is a byte string handed to the file system unchanged.
  // On success *bitmap holds the picture; on failure it is reset.
  [[nodiscard]] virtual ImageStatus Load(const std::string& path,
                                         std::unique_ptr<Bitmap>* bitmap) = 0;

  // Scales to exactly width × height with smooth filtering.
  [[nodiscard]] virtual ImageStatus Resize(const Bitmap& source, int width, int height,
                                           std::unique_ptr<Bitmap>* resized) = 0;

  // Encodes as "jpeg", "bmp" or "png" with default parameters. Formats
  // without alpha get transparent areas laid on white.
  [[nodiscard]] virtual ImageStatus Save(const Bitmap& bitmap, std::string_view format_name,
                                         SaveTarget& target) = 0;

  // After a Load that returned kTooLarge: the size the header claimed
  // (0 x 0 when the decoder, not the header, met the limit).
  int RefusedWidth() const { return refused_width_; }
  int RefusedHeight() const { return refused_height_; }

 protected:
  void SetRefusedSize(int width, int height) {
    refused_width_ = width;
    refused_height_ = height;
  }

 private:
  uint64_t pixel_limit_ = kDefaultPixelLimit;
  int refused_width_ = 0;
  int refused_height_ = 0;
};

inline std::string_view ImageStatusText(ImageStatus status) {
  switch (status) {
    case ImageStatus::kOk: return "ok";
    case ImageStatus::kCannotOpen: return "cannot open the file";
    case ImageStatus::kUnknownFormat: return "unknown picture format";
    case ImageStatus::kCorrupt: return "corrupt picture";
    case ImageStatus::kTooLarge: return "picture too large";
    case ImageStatus::kBadSize: return "bad picture size";
    case ImageStatus::kForeignBitmap: return "bitmap of another image library";
    case ImageStatus::kUnknownSaveFormat: return "unknown save format";
    case ImageStatus::kWriteFailed: return "write failed";
  }
  return "unknown status";
}

}  // namespace fvx::imaging
