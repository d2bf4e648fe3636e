#include "imaging/qt_image_library.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QImageReader>
#include <QImageWriter>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

namespace fvx::imaging {
namespace {

// Formats that only our plug-ins may provide. Were Qt's global plug-in path
// to offer them too, taking them from there would keep them alive after the
// plug-in file is removed.
constexpr std::array<std::string_view, 2> kPluginOnlyFormats = {"mng", "jng"};

struct FormatName {
  std::string_view qt_name;
  PictureFormat format;
};
constexpr FormatName kFormatNames[] = {
    {"jpeg", PictureFormat::kJpeg}, {"jpg", PictureFormat::kJpeg},
    {"bmp", PictureFormat::kBmp},   {"dib", PictureFormat::kBmp},
    {"png", PictureFormat::kPng},   {"gif", PictureFormat::kGif},
    {"mng", PictureFormat::kMng},   {"jng", PictureFormat::kJng},
};

constexpr int kMaxSide = 65535;

PictureFormat FormatFromQtName(const QByteArray& name) {
  const QByteArray lower = name.toLower();
  for (const FormatName& entry : kFormatNames) {
    if (lower == QByteArray(entry.qt_name.data(), static_cast<qsizetype>(entry.qt_name.size()))) {
      return entry.format;
    }
  }
  return PictureFormat::kOther;
}

bool IsPluginOnly(const QByteArray& name) {
  const QByteArray lower = name.toLower();
  return std::any_of(kPluginOnlyFormats.begin(), kPluginOnlyFormats.end(),
                     [&](std::string_view f) { return lower == f.data(); });
}

bool FitsAllocationLimit(qint64 width, qint64 height) {
  const qint64 limit = qint64{QImageReader::allocationLimit()} * 1024 * 1024;
  return limit <= 0 || width * height * 4 <= limit;
}

// Decoders hold 4 bytes a pixel, some a copy more while converting.
int AllocationLimitMbFor(uint64_t max_pixels) {
  const uint64_t mb = (max_pixels * 8 + (1u << 20) - 1) >> 20;
  return static_cast<int>(std::clamp<uint64_t>(mb, 16, kAllocationLimitMb));
}

int BitsPerPixelOf(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
      return 1;
    case QImage::Format_Indexed8: {
      const int colours = image.colorCount();
      return colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
    }
    case QImage::Format_Grayscale8:
    case QImage::Format_Alpha8:
      return 8;
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB16:
    case QImage::Format_RGB555:
    case QImage::Format_RGB444:
      return 16;
    case QImage::Format_RGBX64:
      return 48;
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
      return 64;
    default:
      return image.hasAlphaChannel() ? 32 : 24;
  }
}

int DpiOf(int dots_per_metre) { return static_cast<int>(dots_per_metre * 0.0254 + 0.5); }

// Qt decodes GIF to 32-bit pixels; the file's own depth is the size of its
// colour table, in the logical screen descriptor.
std::optional<int> GifBitsPerPixel(QIODevice& device) {
  const QByteArray head = device.peek(13);
  if (head.size() < 13) return std::nullopt;
  const auto packed = static_cast<unsigned char>(head[10]);
  if ((packed & 0x80) == 0) return std::nullopt;
  return (packed & 0x07) + 1;
}

class QtBitmap final : public Bitmap {
 public:
  QtBitmap(QImage image, PictureFormat format, std::optional<int> bits_per_pixel = std::nullopt)
      : image_(std::move(image)),
        format_(format),
        bits_per_pixel_(bits_per_pixel.value_or(BitsPerPixelOf(image_))) {}

  int Width() const override { return image_.width(); }
  int Height() const override { return image_.height(); }
  int BitsPerPixel() const override { return bits_per_pixel_; }
  int XDpi() const override { return DpiOf(image_.dotsPerMeterX()); }
  int YDpi() const override { return DpiOf(image_.dotsPerMeterY()); }
  PictureFormat Format() const override { return format_; }
  const QImage& Image() const { return image_; }

 private:
  QImage image_;
  PictureFormat format_;
  int bits_per_pixel_;
};

// Adapts the caller's write/tell/seek callbacks to the QIODevice an encoder
// wants. Positions are relative to where the target stood when saving began.
class TargetDevice final : public QIODevice {
 public:
  TargetDevice(SaveTarget& target, uint64_t base) : target_(target), base_(base) {}

  bool isSequential() const override { return false; }
  qint64 size() const override { return end_; }
  bool seek(qint64 position) override {
    if (position < 0 || !target_.Seek(base_ + static_cast<uint64_t>(position))) {
      failed_ = true;
      return false;
    }
    return QIODevice::seek(position);
  }
  bool Failed() const { return failed_; }

 protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 count) override {
    if (failed_ || !target_.Write(data, static_cast<size_t>(count))) {
      failed_ = true;
      return -1;
    }
    end_ = std::max(end_, pos() + count);
    return count;
  }

 private:
  SaveTarget& target_;
  uint64_t base_;
  qint64 end_ = 0;
  bool failed_ = false;
};

// JPEG and BMP have no alpha; Qt would keep the colour under transparent
// pixels, which is usually black. Laying them on white matches a page.
QImage OnWhite(const QImage& image) {
  QImage flat = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (flat.isNull()) return flat;
  for (int y = 0; y < flat.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(flat.scanLine(y));
    for (int x = 0; x < flat.width(); ++x) {
      const QRgb p = line[x];
      const int room = 255 - qAlpha(p);
      line[x] = qRgb(qRed(p) + room, qGreen(p) + room, qBlue(p) + room);
    }
  }
  return flat.convertToFormat(QImage::Format_RGB32);
}

struct LoadedPlugin {
  std::unique_ptr<QPluginLoader> loader;
  QImageIOPlugin* plugin = nullptr;
  std::string name;
  std::vector<FormatInfo> formats;
};

class QtImageLibrary final : public ImageLibrary {
 public:
  ~QtImageLibrary() override { Shutdown(); }

  void Initialize(const std::string& plugin_directory) override {
    if (initialized_) return;
    initialized_ = true;
    QImageReader::setAllocationLimit(AllocationLimitMbFor(PixelLimit()));
    std::string folder = plugin_directory;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    const QDir dir(QFile::decodeName(QByteArray::fromStdString(folder)));
    if (!dir.exists()) return;
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
      const QString path = dir.absoluteFilePath(name);
      if (!QLibrary::isLibrary(path)) continue;
      LoadPlugin(path);
    }
  }

  void Shutdown() override {
    // Handlers made by a plug-in are gone by now (Load owns each for one call),
    // so unloading cannot leave code behind that is still in use.
    for (LoadedPlugin& loaded : plugins_) {
      loaded.loader->unload();
    }
    plugins_.clear();
    initialized_ = false;
  }

  void SetPixelLimit(uint64_t max_pixels) override {
    ImageLibrary::SetPixelLimit(max_pixels);
    if (initialized_) QImageReader::setAllocationLimit(AllocationLimitMbFor(max_pixels));
  }

  std::vector<FormatInfo> ReadableFormats() const override {
    std::vector<FormatInfo> formats;
    for (const QByteArray& name : QImageReader::supportedImageFormats()) {
      if (IsPluginOnly(name)) continue;
      formats.push_back({name.toLower().toStdString(), {}, {}});
    }
    for (const LoadedPlugin& loaded : plugins_) {
      formats.insert(formats.end(), loaded.formats.begin(), loaded.formats.end());
    }
    return formats;
  }

  ImageStatus Load(const std::string& path, std::unique_ptr<Bitmap>* bitmap) override {
    bitmap->reset();
    SetRefusedSize(0, 0);
    // The name goes to the file system as bytes: no locale decoding on the
    // way. A FIFO or device is refused without waiting on it.
    platform::File file = platform::File::OpenForReading(path);
    if (!file.IsOpen()) return ImageStatus::kCannotOpen;
    QFile device;
    if (!device.open(file.Descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
      return ImageStatus::kCannotOpen;
    }
    QImage image;
    PictureFormat format = PictureFormat::kOther;
    ImageStatus status = LoadThroughPlugins(device, &image, &format);
    if (status == ImageStatus::kUnknownFormat) {
      if (!device.seek(0)) return ImageStatus::kCannotOpen;
      status = LoadBuiltIn(device, &image, &format);
    }
    if (status != ImageStatus::kOk) return status;
    std::optional<int> bits_per_pixel;
    if (format == PictureFormat::kGif && device.seek(0)) bits_per_pixel = GifBitsPerPixel(device);
    *bitmap = std::make_unique<QtBitmap>(std::move(image), format, bits_per_pixel);
    return ImageStatus::kOk;
  }

  ImageStatus Resize(const Bitmap& source, int width, int height,
                     std::unique_ptr<Bitmap>* resized) override {
    resized->reset();
    const auto* qt_source = dynamic_cast<const QtBitmap*>(&source);
    if (qt_source == nullptr) return ImageStatus::kForeignBitmap;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
      return ImageStatus::kBadSize;
    }
    if (!FitsAllocationLimit(width, height)) return ImageStatus::kTooLarge;
    // Qt's area-averaging downscale works on 32-bit pixels; premultiplied
    // alpha keeps transparent pixels from bleeding their colour into edges.
    const QImage& original = qt_source->Image();
    const QImage wide = original.convertToFormat(original.hasAlphaChannel()
                                                     ? QImage::Format_ARGB32_Premultiplied
                                                     : QImage::Format_RGB32);
    QImage scaled = wide.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull()) return ImageStatus::kTooLarge;
    scaled.setDotsPerMeterX(original.dotsPerMeterX());
    scaled.setDotsPerMeterY(original.dotsPerMeterY());
    *resized = std::make_unique<QtBitmap>(std::move(scaled), source.Format());
    return ImageStatus::kOk;
  }

  ImageStatus Save(const Bitmap& bitmap, std::string_view format_name,
                   SaveTarget& target) override {
    const auto* qt_bitmap = dynamic_cast<const QtBitmap*>(&bitmap);
    if (qt_bitmap == nullptr) return ImageStatus::kForeignBitmap;
    const QByteArray format =
        QByteArray(format_name.data(), static_cast<qsizetype>(format_name.size())).toLower();
    if (format != "jpeg" && format != "bmp" && format != "png") {
      return ImageStatus::kUnknownSaveFormat;
    }
    QImage image = qt_bitmap->Image();
    if (format != "png" && image.hasAlphaChannel()) {
      image = OnWhite(image);
      if (image.isNull()) return ImageStatus::kTooLarge;
    }
    const std::optional<uint64_t> base = target.Tell();
    if (!base) return ImageStatus::kWriteFailed;
    TargetDevice device(target, *base);
    if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
      return ImageStatus::kWriteFailed;
    }
    QImageWriter writer(&device, format);
    const bool written = writer.write(image);
    device.close();
    if (!written || device.Failed()) return ImageStatus::kWriteFailed;
    // Leave the target after the picture even if the encoder seeked back.
    if (!target.Seek(*base + static_cast<uint64_t>(device.size()))) {
      return ImageStatus::kWriteFailed;
    }
    return ImageStatus::kOk;
  }

 private:
  void LoadPlugin(const QString& path) {
    auto loader = std::make_unique<QPluginLoader>(path);
    QObject* instance = loader->instance();
    auto* plugin = qobject_cast<QImageIOPlugin*>(instance);
    if (plugin == nullptr) {
      if (instance != nullptr) loader->unload();
      return;
    }
    LoadedPlugin loaded;
    const QJsonObject meta = loader->metaData().value("MetaData").toObject();
    loaded.name = meta.value("Name").toString(QFileInfo(path).baseName()).toStdString();
    const QJsonArray described = meta.value("Formats").toArray();
    for (const QJsonValue& key : meta.value("Keys").toArray()) {
      FormatInfo info{key.toString().toLower().toStdString(), {}, loaded.name};
      for (const QJsonValue& entry : described) {
        const QJsonObject object = entry.toObject();
        if (object.value("Key").toString().toLower().toStdString() == info.name) {
          info.description = object.value("Description").toString().toStdString();
        }
      }
      loaded.formats.push_back(std::move(info));
    }
    loaded.plugin = plugin;
    loaded.loader = std::move(loader);
    plugins_.push_back(std::move(loaded));
  }

  // Whether a picture of this size may be decoded; remembers it if not.
  bool WithinPixelLimit(const QSize& size) {
    if (!size.isValid()) return true;  // not told: the allocation limit guards
    const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
    if (pixels <= PixelLimit() && FitsAllocationLimit(size.width(), size.height())) return true;
    SetRefusedSize(size.width(), size.height());
    return false;
  }

  ImageStatus LoadThroughPlugins(QIODevice& device, QImage* image, PictureFormat* format) {
    for (const LoadedPlugin& loaded : plugins_) {
      if (!device.seek(0)) return ImageStatus::kCannotOpen;
      if (!(loaded.plugin->capabilities(&device, QByteArray()) & QImageIOPlugin::CanRead)) {
        continue;
      }
      std::unique_ptr<QImageIOHandler> handler(loaded.plugin->create(&device, QByteArray()));
      if (!handler || !handler->canRead()) continue;
      const QByteArray name = handler->format();
      if (handler->supportsOption(QImageIOHandler::Size) &&
          !WithinPixelLimit(handler->option(QImageIOHandler::Size).toSize())) {
        return ImageStatus::kTooLarge;
      }
      if (!handler->read(image) || image->isNull()) return ImageStatus::kCorrupt;
      *format = FormatFromQtName(name);
      return ImageStatus::kOk;
    }
    return ImageStatus::kUnknownFormat;
  }

  ImageStatus LoadBuiltIn(QIODevice& device, QImage* image, PictureFormat* format) {
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    const QByteArray name = reader.format();
    if (name.isEmpty() || IsPluginOnly(name)) return ImageStatus::kUnknownFormat;
    // The header's size, before a single pixel is decoded.
    if (!WithinPixelLimit(reader.size())) return ImageStatus::kTooLarge;
    if (!reader.read(image) || image->isNull()) {
      // A header that understated the size meets the allocation limit.
      if (reader.error() == QImageReader::InvalidDataError && !reader.errorString().isEmpty() &&
          reader.errorString().contains("allocation", Qt::CaseInsensitive)) {
        return ImageStatus::kTooLarge;
      }
      return reader.error() == QImageReader::UnsupportedFormatError ? ImageStatus::kUnknownFormat
                                                                     : ImageStatus::kCorrupt;
    }
    *format = FormatFromQtName(name);
    return ImageStatus::kOk;
  }

  bool initialized_ = false;
  std::vector<LoadedPlugin> plugins_;
};

}  // namespace

std::unique_ptr<ImageLibrary> CreateQtImageLibrary() { return std::make_unique<QtImageLibrary>(); }

}  // namespace fvx::imaging
