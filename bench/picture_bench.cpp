// Per-picture cost of the image library for the compiler's picture stage:
// a 2000 × 1500 JPEG and PNG loaded alone, loaded and converted without a
// resize, and loaded, fitted to 800 px wide and saved (plus the 240 px small
// version). Output goes to a scratch file, as the compiler's spill file.
//
//   build/bench/picture_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "imaging/qt_image_library.h"
#include "platform/scratch_file.h"

namespace {

using fvx::imaging::Bitmap;
using fvx::imaging::ImageLibrary;
using fvx::imaging::ImageStatus;

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

// Smooth shapes under fine noise, like a photograph: PNG cannot squeeze the
// noise away, JPEG pays for it in detail.
QImage PhotoLike() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(40, 70, 140));
  sky.setColorAt(1, QColor(230, 180, 120));
  painter.fillRect(image.rect(), sky);
  for (int i = 0; i < 12; ++i) {
    QRadialGradient disc(QPointF(150 + 160 * i, 300 + 80 * (i % 5)), 120 + 10 * i);
    disc.setColorAt(0, QColor(255, 240 - 10 * i, 200, 220));
    disc.setColorAt(1, QColor(60, 30 + 10 * i, 20, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(disc.center(), disc.radius(), disc.radius());
  }
  painter.end();
  uint32_t state = 12345;
  for (int y = 0; y < kHeight; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      const int n = static_cast<int>(state >> 28) - 8;
      const QRgb p = line[x];
      line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                     std::clamp(qBlue(p) + n, 0, 255));
    }
  }
  return image;
}

struct Fixture {
  Fixture() {
    const QImage image = PhotoLike();
    jpeg = folder.path().toStdString() + "/photo.jpg";
    png = folder.path().toStdString() + "/photo.png";
    image.save(QString::fromStdString(jpeg), "jpeg", 88);
    image.save(QString::fromStdString(png), "png");
    library = fvx::imaging::CreateQtImageLibrary();
    library->Initialize(folder.path().toStdString() + "/ImagePlugins");
    spill = fvx::platform::CreateScratchFile("fvxbench");
  }
  QTemporaryDir folder;
  std::string jpeg;
  std::string png;
  std::unique_ptr<ImageLibrary> library;
  fvx::platform::File spill;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

const std::string& Source(const benchmark::State& state) {
  return state.range(0) == 0 ? Shared().jpeg : Shared().png;
}

std::unique_ptr<Bitmap> LoadOrSkip(benchmark::State& state) {
  std::unique_ptr<Bitmap> bitmap;
  if (Shared().library->Load(Source(state), &bitmap) != ImageStatus::kOk) {
    state.SkipWithError("load failed");
  }
  return bitmap;
}

bool SaveToSpill(const Bitmap& bitmap, const char* format) {
  Fixture& fixture = Shared();
  if (!fixture.spill.Truncate(0) || !fixture.spill.Seek(0)) return false;
  fvx::imaging::FileSaveTarget target(fixture.spill);
  return fixture.library->Save(bitmap, format, target) == ImageStatus::kOk;
}

void SetLabel(benchmark::State& state, const char* what) {
  state.SetLabel(std::string(state.range(0) == 0 ? "jpeg " : "png ") + what);
  state.SetItemsProcessed(state.iterations());
}

void BM_Load(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<Bitmap> bitmap = LoadOrSkip(state);
    benchmark::DoNotOptimize(bitmap);
  }
  SetLabel(state, "load only");
}

// No limit applies: the compiler copies a JPEG's bytes and converts a PNG to
// BMP (or PNG in books of more than 3000 picture references).
void BM_LoadConvert(benchmark::State& state) {
  const char* format = state.range(1) == 0 ? "bmp" : "png";
  for (auto _ : state) {
    std::unique_ptr<Bitmap> bitmap = LoadOrSkip(state);
    if (!bitmap || !SaveToSpill(*bitmap, format)) state.SkipWithError("save failed");
  }
  SetLabel(state, format);
}

// A width limit of 800 applies, then the 240 px small version.
void BM_LoadResizeSave(benchmark::State& state) {
  const char* format = state.range(0) == 0 ? "jpeg" : state.range(1) == 0 ? "bmp" : "png";
  for (auto _ : state) {
    std::unique_ptr<Bitmap> bitmap = LoadOrSkip(state);
    std::unique_ptr<Bitmap> fitted;
    std::unique_ptr<Bitmap> small;
    if (!bitmap || Shared().library->Resize(*bitmap, 800, 600, &fitted) != ImageStatus::kOk ||
        !SaveToSpill(*fitted, format) ||
        Shared().library->Resize(*bitmap, 240, 180, &small) != ImageStatus::kOk ||
        !SaveToSpill(*small, format)) {
      state.SkipWithError("resize or save failed");
    }
  }
  SetLabel(state, (std::string("fit 800 + small 240, ") + format).c_str());
}

BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadConvert)->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadResizeSave)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Shared();  // draw and encode the sources before any timing starts
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
