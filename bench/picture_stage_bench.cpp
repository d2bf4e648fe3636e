// The compiler's whole picture stage (ProcessPictures with the real image
// library): per picture for 2000 × 1500 JPEG and PNG sources as a book
// meets them (copied or converted, resized to a width limit, the 240 px
// small version), and the stage's own cost for a book of many references
// to few small pictures.
//
//   build/bench/picture_stage_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <string>

#include "compiler/backend/picture_processor.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/work_database.h"
#include "imaging/qt_image_library.h"
#include "platform/scratch_file.h"

namespace {

using namespace fvx::compiler;

class QuietSink final : public MessageSink {
 public:
  void Report(Level, const std::string&) override {}
};

// Gradients under fine noise, so that neither encoder has it easy.
QImage PhotoLike(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient sky(0, 0, width, height);
  sky.setColorAt(0, QColor(30, 60, 150));
  sky.setColorAt(1, QColor(240, 190, 110));
  painter.fillRect(image.rect(), sky);
  painter.end();
  uint32_t state = 99;
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int n = static_cast<int>(state >> 28) - 8;
      line[x] = qRgb(std::clamp(qRed(line[x]) + n, 0, 255),
                     std::clamp(qGreen(line[x]) + n, 0, 255),
                     std::clamp(qBlue(line[x]) + n, 0, 255));
    }
  }
  return image;
}

struct Fixture {
  Fixture() {
    const QImage photo = PhotoLike(2000, 1500);
    photo.save(folder.path() + "/photo.jpg", "jpeg", 88);
    photo.save(folder.path() + "/photo.png", "png");
    const QImage thumb = PhotoLike(64, 48);
    for (int i = 0; i < 100; ++i) thumb.save(folder.path() + QString("/t%1.png").arg(i), "png");
    library = fvx::imaging::CreateQtImageLibrary();
    library->Initialize(folder.path().toStdString() + "/ImagePlugins");
  }
  QTemporaryDir folder;
  std::unique_ptr<fvx::imaging::ImageLibrary> library;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// One stage run over rows (path, resize width) repeated `copies` times.
bool RunStage(const std::vector<std::pair<std::string, uint32_t>>& rows, int copies,
              benchmark::State& state, PictureResults* results) {
  state.PauseTiming();
  WorkDatabase db;
  QuietSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.SetRunning(true);
  CDocumentProperties properties;
  fvx::platform::File spill = fvx::platform::CreateScratchFile("fvxbench");
  bool ok = db.Open() && db.CreateTables() && db.Begin();
  for (int c = 0; ok && c < copies; ++c) {
    for (const auto& [path, width] : rows) {
      CSqlQuery q(db);
      ok = q.Exec("INSERT INTO tbl_Images(Src,Flags,ResizeWidth,ResizeHeight,Line,Column) "
                  "VALUES('%q',2,%d,0,%d,1)",
                  path.c_str(), static_cast<int>(width), c + 1);
    }
  }
  ok = ok && db.End();
  const std::string source = Shared().folder.path().toStdString() + "/book.txt";
  state.ResumeTiming();
  const PictureJob job{context, properties, db, source, Shared().library.get(), spill};
  return ok && ProcessPictures(job, results);
}

// range(0): 0 JPEG, 1 PNG; range(1): resize width (0 = none).
void BM_StagePerPicture(benchmark::State& state) {
  const std::string path = state.range(0) == 0 ? "photo.jpg" : "photo.png";
  const auto width = static_cast<uint32_t>(state.range(1));
  uint64_t stored = 0;
  for (auto _ : state) {
    PictureResults results;
    if (!RunStage({{path, width}}, 1, state, &results) || results.PictureCount() != 1) {
      state.SkipWithError("stage failed");
      break;
    }
    stored = results.bytes_stored;
  }
  state.SetLabel((state.range(0) == 0 ? std::string("jpeg ") : std::string("png ")) +
                 (width == 0 ? "no limit" : "fit " + std::to_string(width)) + ", small 240; " +
                 std::to_string(stored / 1024) + " KiB stored");
  state.SetItemsProcessed(state.iterations());
}

// 100 distinct 64 × 48 pictures, each referenced `range(0)` times.
void BM_StageManyReferences(benchmark::State& state) {
  std::vector<std::pair<std::string, uint32_t>> rows;
  for (int i = 0; i < 100; ++i) rows.emplace_back("t" + std::to_string(i) + ".png", 0);
  const int copies = static_cast<int>(state.range(0));
  for (auto _ : state) {
    PictureResults results;
    if (!RunStage(rows, copies, state, &results) || results.PictureCount() != 100) {
      state.SkipWithError("stage failed");
      break;
    }
  }
  state.SetLabel(std::to_string(100 * copies) + " references, 100 pictures");
  state.SetItemsProcessed(state.iterations() * 100 * copies);
}

BENCHMARK(BM_StagePerPicture)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 800})
    ->Args({1, 800})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StageManyReferences)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Shared();  // draw and encode the sources before any timing starts
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
