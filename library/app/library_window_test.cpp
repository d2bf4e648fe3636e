// "My Fvx Files" offscreen over a scratch registry, and the catalogue
// refresher's queued signal with nginx on 127.0.0.1.
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
#include <fstream>
#include <memory>

#include "bookformat/testing/sample_book.h"
#include "library/app/catalogue_refresher.h"
#include "library/app/library_window.h"
#include "library/download/testing/nginx_server.h"
#include "library/library_settings.h"

using fvx::platform::Registry;
using fvx::platform::RegistryRoot;
namespace library = fvx::library;

class LibraryWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    home_ = std::make_unique<QTemporaryDir>();
    registry_ = std::make_unique<Registry>((home_->path() + "/registry.db").toStdString());
    Add("K1", "Birds", "/b/birds.fvx", 1000);
    Add("K2", "Atlas", "/b/atlas.fvx", static_cast<uint32_t>(std::time(nullptr)));
    Add("K3", "Coins", "/b/coins.fvx", 0);
  }

  void opensNewestFirstAndSortsByTheHeaderButtons() {
    library::LibraryWindow window(*registry_);
    QCOMPARE(Headings(window), (QStringList{"Atlas", "Birds", "Coins"}));  // newest first
    QCOMPARE(window.list().DateText(2), std::string("  --  "));
    auto* title = window.findChild<QPushButton*>("170");
    auto* date = window.findChild<QPushButton*>("171");
    title->click();  // title is current and ascending: the click flips it
    QCOMPARE(Headings(window), (QStringList{"Coins", "Birds", "Atlas"}));
    date->click();
    QCOMPARE(Headings(window), (QStringList{"Coins", "Birds", "Atlas"}));
    QVERIFY(window.SortAscending());
    QVERIFY(!title->text().contains(QChar(0x25B2)) && !title->text().contains(QChar(0x25BC)));
    date->click();
    QCOMPARE(Headings(window), (QStringList{"Atlas", "Birds", "Coins"}));

    auto* view = window.findChild<QTableView*>("156");
    QModelIndex today = view->model()->index(0, 0);
    QCOMPARE(today.data(Qt::BackgroundRole).value<QColor>(), QColor(0xFE, 0xF9, 0xF3));
    QCOMPARE(view->model()->index(1, 0).data(Qt::BackgroundRole).value<QColor>(),
             QColor(0xEA, 0xF3, 0xF9));
  }

  void typeAheadSelectsAndBeepsOnlyWhenGrowing() {
    library::LibraryWindow window(*registry_);
    int beeps = 0;
    window.SetBeep([&] { ++beeps; });
    auto* search = window.findChild<QLineEdit*>("161");
    auto* view = window.findChild<QTableView*>("156");
    QTest::keyClicks(search, "bi");
    QCOMPARE(view->currentIndex().data().toString(), QString("Birds"));
    QTest::keyClicks(search, "x");
    QCOMPARE(beeps, 1);
    QTest::keyClick(search, Qt::Key_Backspace);
    QTest::keyClick(search, Qt::Key_Backspace);
    QCOMPARE(beeps, 1);
  }

  void deleteRenameAndOpenAskFirst() {
    library::LibraryWindow window(*registry_);
    bool answer = false;
    QStringList asked;
    window.SetConfirm([&](const QString& message) {
      asked << message;
      return answer;
    });
    auto* view = window.findChild<QTableView*>("156");
    view->selectRow(1);  // Birds
    window.findChild<QPushButton*>("163")->click();
    QCOMPARE(window.list().size(), size_t{3});  // cancelled
    answer = true;
    window.findChild<QPushButton*>("163")->click();
    QCOMPARE(window.list().size(), size_t{2});
    QVERIFY(!registry_->KeyExists(RegistryRoot::kLocalMachine, library::FileInfoKey("K1")));
    QVERIFY(asked.last().contains("delete<br>the selected file(s)"));

    QAbstractItemModel* model = view->model();
    QVERIFY(!model->setData(model->index(0, 0), "   "));
    QVERIFY(model->setData(model->index(0, 0), "World Atlas"));
    QCOMPARE(
        registry_->ReadString(RegistryRoot::kLocalMachine, library::FileInfoKey("K2"), "Heading"),
        std::string("World Atlas"));
    QVERIFY(asked.last().contains("rename this library entry"));

    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view->setFocus();
    view->selectRow(1);  // World Atlas; the Delete key asks the same question
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(window.list().size(), size_t{1});

    view->selectRow(0);
    window.findChild<QPushButton*>("162")->click();
    QCOMPARE(window.SelectedPath(), QString("/b/coins.fvx"));
  }

  void refresherSignalsAReplacedCatalogue() {
    fvx::library::testing::NginxServer nginx;
    QVERIFY2(nginx.Start(), nginx.Error().c_str());
    fvx::format::testing::SampleBookOptions options;
    QVERIFY(nginx.PutFile("Fvx_Lib.fvx", fvx::format::testing::BuildSampleBook(options).container,
                          -60));
    registry_->WriteString(RegistryRoot::kLocalMachine, library::LibInfoKey(), "CatalogueUrl",
                           nginx.Url("Fvx_Lib.fvx"));
    library::CatalogueRefresher refresher(*registry_, home_->path());
    QSignalSpy replaced(&refresher, &library::CatalogueRefresher::catalogueReplaced);
    refresher.Start(false);
    QVERIFY(replaced.wait(10000));
    QVERIFY(QFile::exists(refresher.CataloguePath()));
  }

 private:
  void Add(const char* key, const char* heading, const char* path, uint32_t created) {
    registry_->WriteString(RegistryRoot::kLocalMachine, library::FileInfoKey(key), "Heading",
                           heading);
    registry_->WriteString(RegistryRoot::kLocalMachine, library::FileInfoKey(key), "Path", path);
    registry_->WriteDword(RegistryRoot::kLocalMachine, library::FileInfoKey(key), "CreatedTime",
                          created);
  }
  QStringList Headings(library::LibraryWindow& window) {
    QStringList headings;
    for (const auto& entry : window.list().entries())
      headings << QString::fromStdString(entry.heading);
    return headings;
  }

  std::unique_ptr<QTemporaryDir> home_;
  std::unique_ptr<Registry> registry_;
};

QTEST_MAIN(LibraryWindowTest)
#include "library_window_test.moc"
