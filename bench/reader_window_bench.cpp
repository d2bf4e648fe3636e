// The reader window on a book of 177 000 subjects: time to the first page,
// heading-box lookups per keystroke, and scrolling the whole subject list.
// A bench command (not Google Benchmark: the web view needs an event loop);
// run it under a display, e.g.
//   QTWEBENGINE_DISABLE_SANDBOX=1 xvfb-run -a build/release/bench/reader_window_bench
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "reader/app/main_window.h"
#include "reader/app/page_fonts.h"
#include "reader/app/page_view.h"
#include "reader/app/subject_list_model.h"
#include "reader/app/word_index_starter.h"
#include "bookformat/testing/test_book.h"

namespace {

constexpr uint32_t kSubjects = 177000;

std::string BigBook() {
  static const char* kWords[] = {"atlas", "river", "mountain", "valley", "coast", "island"};
  fvx::format::testing::TestBookSpec spec;
  spec.subjects.reserve(kSubjects);
  char heading[32];
  for (uint32_t i = 0; i < kSubjects; ++i) {
    std::snprintf(heading, sizeof heading, "%s %06u", kWords[i * 6 / kSubjects], i);
    std::string text = "The ";
    text += kWords[i % 6];
    text += " of entry " + std::to_string(i) + " lies beside the ";
    text += kWords[(i / 7) % 6];
    text += ".";
    spec.subjects.push_back({heading, text, false});
  }
  spec.segments = 512;
  return fvx::format::testing::BuildTestBook(spec);
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer since_main;  // "from start": the program's own start-up included
  since_main.start();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  fvx::reader::app::InstallPageFontAlias();
  const qint64 font_alias = since_main.elapsed();
  fvx::reader::app::RegisterPageSchemes();
  QApplication app(argc, argv);
  const qint64 app_ready = since_main.elapsed();
  std::printf("start-up: font alias %lld ms, application object %lld ms\n",
              static_cast<long long>(font_alias), static_cast<long long>(app_ready - font_alias));
  QTemporaryDir dir;
  qputenv("FVX_REGISTRY", dir.filePath("registry.db").toUtf8());
  qputenv("FVX_IPC_DIR", dir.path().toUtf8());
  const QString path = dir.filePath("big.fvx");
  {
    const std::string bytes = BigBook();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  }
  std::printf("book: %u subjects\n", kSubjects);

  // 1. Window shown with the first page: cold (the web engine starts) and
  //    warm (a second window in the same process).
  for (const char* kind : {"cold", "warm"}) {
    QElapsedTimer clock;
    clock.start();
    // The cold start is counted from main(), without the time spent writing
    // the book, which the program does not do.
    const qint64 start_offset = std::string(kind) == "cold" ? app_ready : 0;
    fvx::reader::app::MainWindow window;
    window.wordIndexStarter()->SetStartDelay(-1);  // a build would compete with what is measured
    window.resize(1200, 800);
    window.show();
    QSignalSpy shown(&window, &fvx::reader::app::MainWindow::pageShown);
    qint64 drawn = -1;
    QObject::connect(window.pageView(), &fvx::reader::app::PageView::pageDrawn, &window,
                     [&] { if (drawn < 0) drawn = clock.elapsed(); });
    const qint64 before_open = clock.elapsed();
    if (!window.OpenBook(path)) return 1;
    const qint64 opened = clock.elapsed();
    if (shown.count() == 0 && !shown.wait(30000)) return 1;
    const qint64 web = clock.elapsed();
    std::printf("first page (%s): drawn %lld ms from window creation (%lld ms from start), "
                "in the web view %lld ms (%lld ms from start); window %lld ms, open %lld ms\n",
                kind, static_cast<long long>(drawn), static_cast<long long>(drawn + start_offset),
                static_cast<long long>(web), static_cast<long long>(web + start_offset),
                static_cast<long long>(before_open), static_cast<long long>(opened - before_open));
    if (std::string(kind) == "cold") continue;

    // 1b. Another page in the same window (the web engine running).
    {
      QElapsedTimer page;
      qint64 total = 0;
      constexpr int kPages = 10;
      for (int k = 0; k < kPages; ++k) {
        QSignalSpy next(&window, &fvx::reader::app::MainWindow::pageShown);
        page.start();
        window.ShowRow(static_cast<uint32_t>(1000 + k * 15000), 0, false);
        if (!next.wait(30000)) return 1;
        total += page.elapsed();
      }
      std::printf("page switch: %.1f ms from ShowRow to the page on show (average of %d)\n",
                  static_cast<double>(total) / kPages, kPages);
    }

    QListView* list = window.subjectList();
    auto* model = window.subjectModel();

    // 2. Heading box: one lookup per keystroke, the list following.
    const QString typed = "river 071234";
    QElapsedTimer keys;
    qint64 worst = 0;
    keys.start();
    for (int n = 1; n <= typed.size(); ++n) {
      QElapsedTimer one;
      one.start();
      window.headingBox()->setText(typed.left(n));
      window.HeadingBoxEdited(typed.left(n));
      worst = std::max(worst, one.nsecsElapsed());
    }
    std::printf("heading box: %.3f ms a keystroke on average, %.3f ms at worst (%d keystrokes)\n",
                keys.nsecsElapsed() / 1e6 / typed.size(), worst / 1e6,
                static_cast<int>(typed.size()));

    // 3a. The rows alone, as the model hands them to the view.
    {
      QElapsedTimer rows;
      rows.start();
      size_t characters = 0;
      for (int row = 0; row < model->rowCount(); ++row) {
        characters += model->data(model->index(row), Qt::DisplayRole).toString().size();
      }
      std::printf("list rows: %d rows read through the model in %lld ms (%zu characters)\n",
                  model->rowCount(), static_cast<long long>(rows.elapsed()), characters);
    }

    // 3b. Scrolling the whole subject list page by page, painting each page.
    QScrollBar* bar = list->verticalScrollBar();
    bar->setValue(0);
    QCoreApplication::processEvents();
    model->Reset();
    uint64_t most_per_page = 0;
    int pages = 0;
    QElapsedTimer scroll;
    scroll.start();
    for (int value = 0; value <= bar->maximum(); value += std::max(1, bar->pageStep())) {
      const uint64_t before = model->rowsRead();
      bar->setValue(value);
      list->viewport()->repaint();
      most_per_page = std::max(most_per_page, model->rowsRead() - before);
      ++pages;
    }
    std::printf("list scroll: %d pages in %lld ms (%.3f ms a page); rows asked: %llu in all, at most "
                "%llu for one page, of %u rows\n",
                pages, static_cast<long long>(scroll.elapsed()),
                static_cast<double>(scroll.elapsed()) / std::max(1, pages),
                static_cast<unsigned long long>(model->rowsRead()),
                static_cast<unsigned long long>(most_per_page), kSubjects);
  }
  return 0;
}
