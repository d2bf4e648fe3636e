// A book's whole road with the windows offscreen: `fvx catalogue` builds
// the catalogue, nginx serves it and the book, the reader's start-up
// refresh fetches the catalogue, a click on the book's link queues it, the
// downloader's window fetches it into "Library", "My Fvx Files" lists it and
// its "Open" hands back a path that opens as the same book.
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "downloader/downloader_window.h"
#include "library/app/catalogue_refresher.h"
#include "library/app/library_window.h"
#include "library/catalogue.h"
#include "library/download/testing/nginx_server.h"
#include "library/library_settings.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"

using fvx::platform::Registry;
using fvx::platform::RegistryRoot;
namespace library = fvx::library;
namespace fs = std::filesystem;

class EndToEndTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void catalogueToLibraryWithTheWindows() {
    fvx::library::testing::NginxServer nginx;
    QVERIFY2(nginx.Start(), nginx.Error().c_str());
    fs::path books = fs::path(nginx.root()) / "books";
    fs::create_directories(books);
    fvx::format::testing::SampleBookOptions options;
    options.subject_count = 13;
    std::string book = fvx::format::testing::BuildSampleBook(options).container;
    std::ofstream(books / "Coral_Reefs.fvx", std::ios::binary) << book;
    std::string base = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/books/";
    std::string command = std::string(FVX_TOOL) + " catalogue '" + books.string() + "' '" + base +
                          "' -o '" + nginx.root() + "/Fvx_Lib.fvx' > /dev/null 2>&1";
    QCOMPARE(std::system(command.c_str()), 0);

    QTemporaryDir home;
    Registry registry((home.path() + "/registry.db").toStdString());
    registry.WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "CatalogueUrl",
                         nginx.Url("Fvx_Lib.fvx"));
    registry.WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "MakerUrl", base);

    // The reader's start-up.
    library::CatalogueRefresher refresher(registry, home.path());
    QSignalSpy replaced(&refresher, &library::CatalogueRefresher::catalogueReplaced);
    refresher.Start(false);
    QVERIFY(replaced.wait(10000));

    // The catalogue shown in library mode; its record's link clicked.
    fvx::reader::BookDocument catalogue;
    fvx::reader::OpenCode code{};
    QVERIFY(catalogue.Open(refresher.CataloguePath().toStdString(), &code));
    std::string page;
    fvx::reader::PictureMap pictures(nullptr);
    uint32_t limit = 0;
    QVERIFY(catalogue.RenderBody(1, 0, false, std::nullopt, &pictures, &page, &limit));
    size_t href = page.find("fvxapp://");
    QVERIFY(href != std::string::npos);
    auto link = fvx::reader::ParseAppLink(page.substr(href, page.find('"', href) - href));
    QVERIFY(link.has_value());
    std::string library_folder = (home.path() + "/Library").toStdString();
    library::LinkAction click =
        library::HandleCatalogueLink(registry, *link, true, std::string(catalogue.RowTitle(1)),
                                     library::MakerUrl(registry), library_folder);
    QCOMPARE(static_cast<int>(click.kind),
             static_cast<int>(library::LinkAction::Kind::kStartDownloader));

    // The downloader runs until its list is done.
    registry.WriteDword(RegistryRoot::kLocalMachine, library::BaseKey(), "NoDownloadReadyMsg", 1);
    {
      fvx::downloader::DownloaderWindow downloader(registry, library_folder);
      QSignalSpy finished(&downloader, &fvx::downloader::DownloaderWindow::finished);
      downloader.show();
      QVERIFY(finished.wait(15000));
    }

    // "My Fvx Files" lists it; "Open" gives the path the reader opens.
    library::LibraryWindow window(registry);
    window.show();
    QCOMPARE(window.list().size(), size_t{1});
    window.findChild<QTableView*>("156")->selectRow(0);
    window.findChild<QPushButton*>("162")->click();
    fvx::reader::BookDocument opened;
    QVERIFY(opened.Open(window.SelectedPath().toStdString(), &code));
    QCOMPARE(*fvx::format::BookIdOfFile(window.SelectedPath().toStdString()),
             *fvx::format::BookIdOfFile((books / "Coral_Reefs.fvx").string()));

    // A second click opens the copy instead of queuing the book again.
    library::LinkAction again =
        library::HandleCatalogueLink(registry, *link, true, std::string(catalogue.RowTitle(1)),
                                     library::MakerUrl(registry), library_folder);
    QCOMPARE(static_cast<int>(again.kind),
             static_cast<int>(library::LinkAction::Kind::kOpenDocument));
    QCOMPARE(QString::fromStdString(again.target), window.SelectedPath());
  }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
