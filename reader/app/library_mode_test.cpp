// The library through the reader window itself, under a display: the
// start-up refresh fetching a catalogue built by `fvx catalogue` from nginx,
// library mode and its links, the real FvxDownloader started beside the
// test, "My Fvx Files" and the book it hands back.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <memory>

#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "downloader/single_instance.h"
#include "library/app/library_window.h"
#include "library/download/testing/nginx_server.h"
#include "library/library_settings.h"
#include "platform/registry.h"
#include "reader/app/library_mode.h"
#include "reader/app/main_window.h"
#include "reader/app/page_view.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {

using platform::RegistryRoot;

class LibraryModeTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString home_;
  std::unique_ptr<platform::Registry> registry_;
  QStringList boxes_;

  // Builds the catalogue of folder with `fvx catalogue`.
  static bool BuildCatalogue(const QString& folder, const QString& base, const QString& output) {
    QProcess fvx;
    fvx.start(QStringLiteral(FVX_BINARY_DIR "/bin/fvx"), {"catalogue", folder, base, "-o", output});
    return fvx.waitForFinished(60000) && fvx.exitCode() == 0;
  }

  static bool WriteFile(const QString& path, const std::string& bytes) {
    QFile out(path);
    return out.open(QIODevice::WriteOnly) &&
           out.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
  }

  static std::string SampleBook(int subjects) {
    format::testing::SampleBookOptions options;
    options.subject_count = subjects;
    return format::testing::BuildSampleBook(options).container;
  }

  static void ClickLink(MainWindow& window, const QString& contains) {
    window.pageView()->webView()->page()->runJavaScript(
        QStringLiteral("(function(){var l=document.querySelectorAll('a[href]');"
                       "for(var i=0;i<l.length;++i){if(l[i].getAttribute('href').indexOf('%1')>=0)"
                       "{l[i].click();return;}}})();")
            .arg(contains));
  }

  static int CountLinks(MainWindow& window, const QString& contains) {
    return window.pageView()
        ->Evaluate(QStringLiteral("Array.from(document.querySelectorAll('a[href]')).filter("
                                  "function(a){return a.getAttribute('href').indexOf('%1')>=0;})"
                                  ".length")
                       .arg(contains))
        .toInt();
  }

  static QString Heading(MainWindow& window) {
    return QString::fromStdString(
        std::string(window.document()->Heading(*window.currentSubject())));
  }

  static void Shoot(QWidget& widget, const QString& name) {
    const QString folder = QStringLiteral(FVX_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    QTest::qWait(400);  // let the page paint
    QVERIFY(widget.grab().toImage().save(folder + "/" + name + ".png"));
  }

  std::unique_ptr<MainWindow> NewWindow() {
    auto window = std::make_unique<MainWindow>(registry_.get());
    window->resize(1100, 720);
    window->show();
    return window;
  }

  // True once no downloader of this data home answers any more.
  bool DownloaderGone(int timeout_ms) {
    const QString name = downloader::InstanceName(downloader::kWindowClass, home_);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeout_ms) {
      QLocalSocket socket;
      socket.connectToServer(name);
      if (!socket.waitForConnected(200)) return true;
      socket.disconnectFromServer();
      QTest::qWait(200);
    }
    return false;
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    home_ = dir_.filePath("home");
    QDir().mkpath(home_);
    QDir().mkpath(dir_.filePath("ipc"));
    qputenv("FVX_HOME", home_.toUtf8());
    qputenv("FVX_IPC_DIR", dir_.filePath("ipc").toUtf8());
    qputenv("FVX_REGISTRY", dir_.filePath("registry.db").toUtf8());
    registry_ = std::make_unique<platform::Registry>(dir_.filePath("registry.db").toStdString());
    // Started by the test's reader, the downloader must end by itself.
    registry_->WriteDword(RegistryRoot::kLocalMachine, library::BaseKey(), "NoDownloadReadyMsg", 1);
    ui::SetMessageBoxHook([this](QMessageBox* box) {
      boxes_ << box->text();
      return ui::kIdOk;
    });
  }

  void cleanupTestCase() { ui::SetMessageBoxHook(nullptr); }

  void catalogueFromTheServerToABookInTheReader() {
    library::testing::NginxServer nginx;
    QVERIFY2(nginx.Start(), nginx.Error().c_str());
    const QString books = QString::fromStdString(nginx.root()) + "/books";
    QVERIFY(QDir().mkpath(books));
    const std::string book = SampleBook(13);
    QVERIFY(WriteFile(books + "/Coral_Reefs.fvx", book));
    const QString base = QStringLiteral("http://127.0.0.1:%1/books/").arg(nginx.port());
    QVERIFY(BuildCatalogue(books, base, QString::fromStdString(nginx.root()) + "/Fvx_Lib.fvx"));
    registry_->WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "CatalogueUrl",
                           nginx.Url("Fvx_Lib.fvx"));
    registry_->WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "MakerUrl",
                           base.toStdString());
    registry_->WriteDword(RegistryRoot::kLocalMachine, library::BaseKey(), "FirstTime", 0);

    // The program's start: the refresh before the window, then the window's
    // start-up, which finds no catalogue yet; message 1114 brings it.
    LibraryStartUp start_up(*registry_, home_);
    QVERIFY(start_up.first());
    start_up.Start();
    // A second reader of the same data home queues no catalogue job.
    {
      LibraryStartUp second(*registry_, home_);
      QVERIFY(!second.first());
      second.Start();
      QVERIFY(!second.refresher().updater().queued());
    }
    auto window = NewWindow();
    window->libraryMode()->AttachRefresher(&start_up.refresher());
    QSignalSpy checked(window->libraryMode(), &LibraryMode::catalogueChecked);
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    window->StartUp({});
    QVERIFY(checked.wait(15000));
    QCOMPARE(checked.first().first().toBool(), true);
    QVERIFY(window->action(kCmdCatalogue)->isEnabled());
    QVERIFY(window->inLibraryMode());
    QCOMPARE(window->windowTitle(), QStringLiteral("[Net Library] - Folivox3"));
    QVERIFY(shown.count() > 0 || shown.wait(15000));
    // Nothing fetched yet: the local list is empty, the placeholder gone.
    QCOMPARE(window->pageView()
                 ->Evaluate("document.getElementsByTagName('fvxhomelocaldata').length")
                 .toInt(),
             0);

    // The title leads to the record; its link queues the book and starts
    // the real downloader, which fetches it into "Library".
    shown.clear();
    ClickLink(*window, "<0:");
    QVERIFY(shown.wait(15000));
    QCOMPARE(Heading(*window), QStringLiteral("A sample book"));  // its title
    QSignalSpy queued(window->libraryMode(), &LibraryMode::downloadQueued);
    ClickLink(*window, "<4:");
    QVERIFY(queued.wait(10000));
    QCOMPARE(queued.first().at(1).toBool(), true);
    const std::string downloads = library::DownloadsKey();
    const QString fetched = home_ + "/Library/A_sample_book.fvx";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fetched) &&
                                 registry_->SubKeys(RegistryRoot::kLocalMachine, downloads).empty(),
                             20000);
    QVERIFY(DownloaderGone(10000));
    QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join('\n')));

    // Library mode again: the home page lists the book on this computer.
    QVERIFY(window->libraryMode()->OpenCatalogue());
    QVERIFY(window->ShowRow(0, 0, false));  // it reopens on the record last read
    QTRY_COMPARE_WITH_TIMEOUT(CountLinks(*window, "<100:1:0>A_sample_book.fvx"), 1, 10000);
    Shoot(*window, "library_mode");

    // "My Fvx Files" lists it; "Open" opens it in the reader, out of library mode.
    // Every book the reader opened is listed too (the catalogue here).
    bool listed = false;
    window->libraryMode()->on_library_window = [&](QWidget* widget) {
      auto* library_window = static_cast<library::LibraryWindow*>(widget);
      library_window->show();
      int row = -1;
      for (size_t i = 0; i < library_window->list().size(); ++i) {
        if (library_window->list().Path(i) == fetched.toStdString()) row = static_cast<int>(i);
      }
      listed =
          row >= 0 && library_window->list().Heading(static_cast<size_t>(row)) == "A sample book";
      if (!listed) return;
      Shoot(*library_window, "library_window");
      library_window->findChild<QTableView*>("156")->selectRow(row);
      library_window->findChild<QPushButton*>("162")->click();
    };
    window->action(kCmdLocalLibrary)->trigger();
    QVERIFY(listed);
    QVERIFY(!window->inLibraryMode());
    QCOMPARE(window->windowTitle(), QStringLiteral("A_sample_book - Folivox3"));
    QCOMPARE(window->document()->BookId(),
             *format::BookIdOfFile((books + "/Coral_Reefs.fvx").toStdString()));
  }

  void bookLinksOfLocalCopiesOpenWithoutTheDownloader() {
    // A catalogue of a book already in the library; no server at all.
    const QString served = dir_.filePath("served");
    QVERIFY(QDir().mkpath(served));
    QVERIFY(WriteFile(served + "/Sea_Atlas.fvx", SampleBook(7)));
    const QString base = QStringLiteral("http://books.invalid/fvx/");
    QVERIFY(BuildCatalogue(served, base, home_ + "/Fvx_Lib.fvx"));
    registry_->WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "MakerUrl",
                           base.toStdString());
    QVERIFY(QDir().mkpath(home_ + "/Library"));
    QVERIFY(QFile::copy(served + "/Sea_Atlas.fvx", home_ + "/Library/Sea_Atlas.fvx"));
    const std::string local =
        library::LocalKey() + "\\" + format::UrlKey((base + "Sea_Atlas.fvx").toStdString());
    registry_->WriteString(RegistryRoot::kLocalMachine, local, "Heading", "Sea Atlas");
    registry_->WriteString(RegistryRoot::kLocalMachine, local, "FilePath", "Sea_Atlas.fvx");

    auto window = NewWindow();
    int downloader_starts = 0;
    window->libraryMode()->start_downloader = [&] {
      ++downloader_starts;
      return true;
    };
    QSignalSpy opened(window.get(), &MainWindow::bookOpened);
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    window->action(kCmdCatalogue)->trigger();
    QVERIFY(window->inLibraryMode());
    QVERIFY(shown.count() > 0 || shown.wait(15000));
    shown.clear();
    ClickLink(*window, "<0:");
    QVERIFY(shown.wait(15000));
    opened.clear();
    ClickLink(*window, "<4:");
    QVERIFY(opened.wait(10000));
    QCOMPARE(opened.first().first().toString(), home_ + "/Library/Sea_Atlas.fvx");
    QVERIFY(!window->inLibraryMode());
    QCOMPARE(window->windowTitle(), QStringLiteral("Sea_Atlas - Folivox3"));
    QCOMPARE(downloader_starts, 0);
    QVERIFY(registry_->SubKeys(RegistryRoot::kLocalMachine, library::DownloadsKey()).empty());

    // The home page's own list (kind 100) opens the file too; outside
    // library mode the same link does nothing.
    window->action(kCmdCatalogue)->trigger();
    QVERIFY(window->ShowRow(0, 0, false));
    QTRY_COMPARE_WITH_TIMEOUT(CountLinks(*window, "<100:1:0>Sea_Atlas.fvx"), 1, 10000);
    opened.clear();
    ClickLink(*window, "<100:");
    QVERIFY(opened.wait(10000));
    QVERIFY(!window->inLibraryMode());
    window->OnLinkClicked("fvxapp://<100:1:0>Sea_Atlas.fvx");
    QVERIFY(!window->inLibraryMode());
    QCOMPARE(downloader_starts, 0);

    // The catalogue opened by another road is in library mode too; a copy
    // of it elsewhere is an ordinary book.
    QVERIFY(window->OpenBook(home_ + "/Fvx_Lib.fvx"));
    QVERIFY(window->inLibraryMode());
    QVERIFY(QFile::copy(home_ + "/Fvx_Lib.fvx", dir_.filePath("Fvx_Lib.fvx")));
    QVERIFY(window->OpenBook(dir_.filePath("Fvx_Lib.fvx")));
    QVERIFY(!window->inLibraryMode());
    QCOMPARE(window->windowTitle(), QStringLiteral("Fvx_Lib - Folivox3"));

    // A hostile file name in a kind-100 link is refused with a message.
    QVERIFY(window->libraryMode()->OpenCatalogue());
    boxes_.clear();
    window->OnLinkClicked("fvxapp://<100:1:0>../registry.db");
    QVERIFY(window->inLibraryMode());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_.first().contains("not a file of the library folder"));

    // Message 1114 with a catalogue that does not open: the button goes
    // grey and the book on show stays.
    QVERIFY(WriteFile(home_ + "/Fvx_Lib.fvx", "not a book"));
    QSignalSpy checked(window->libraryMode(), &LibraryMode::catalogueChecked);
    window->libraryMode()->OnCatalogueReplaced();
    QCOMPARE(checked.first().first().toBool(), false);
    QVERIFY(!window->action(kCmdCatalogue)->isEnabled());
    QVERIFY(window->inLibraryMode());
    QFile::remove(home_ + "/Fvx_Lib.fvx");
  }
};

}  // namespace fvx::reader::app

int main(int argc, char** argv) {
  fvx::reader::app::RegisterPageSchemes();
  QApplication app(argc, argv);
  fvx::reader::app::LibraryModeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "library_mode_test.moc"
