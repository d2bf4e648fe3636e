// The downloader's window offscreen, fetching from nginx on 127.0.0.1 into a
// scratch library with a scratch registry.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>

#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "downloader/download_list.h"
#include "downloader/downloader_window.h"
#include "downloader/single_instance.h"
#include "library/download/testing/nginx_server.h"
#include "library/library_settings.h"
#include "ui/richtext/pp_message_box.h"

using fvx::platform::Registry;
using fvx::platform::RegistryRoot;
namespace library = fvx::library;
namespace downloader = fvx::downloader;

class DownloaderWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY2(nginx_.Start(), nginx_.Error().c_str());
    fvx::format::testing::SampleBookOptions options;
    options.subject_count = 11;
    book_ = fvx::format::testing::BuildSampleBook(options).container;
    QVERIFY(nginx_.PutFile("deep.fvx", book_, -3600));
    fvx::ui::SetMessageBoxHook([this](QMessageBox* box) {
      boxes_ << box->windowTitle() + "|" + box->text();
      return fvx::ui::kIdOk;
    });
  }

  void cleanupTestCase() { fvx::ui::SetMessageBoxHook(nullptr); }

  void init() {
    home_ = std::make_unique<QTemporaryDir>();
    registry_ = std::make_unique<Registry>((home_->path() + "/registry.db").toStdString());
    boxes_.clear();
  }

  void fetchesTheQueueThenShowsTheReadyMessage() {
    std::string entry = library::DownloadsKey() + "\\ID1";
    registry_->WriteString(RegistryRoot::kLocalMachine, entry, "Heading", "Deep: Sea");
    registry_->WriteString(RegistryRoot::kLocalMachine, entry, "Url", nginx_.Url("deep.fvx"));
    registry_->WriteString(RegistryRoot::kLocalMachine, library::DownloadsKey() + "\\ID2",
                           "Heading", "../");
    std::string library_folder = (home_->path() + "/Library").toStdString();

    bool ready_seen = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal->objectName() != "ReadyMessage") return;
      ready_seen = true;
      modal->findChild<QCheckBox*>("104")->setChecked(true);
      modal->findChild<QPushButton*>("1")->click();
    });
    answer.start();

    downloader::DownloaderWindow window(*registry_, library_folder);
    QSignalSpy finished(&window, &downloader::DownloaderWindow::finished);
    window.show();
    QVERIFY(window.findChild<QWidget*>("101") != nullptr);
    QVERIFY(window.findChild<QWidget*>("103") != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 15000);
    QVERIFY(ready_seen);

    std::string path = library_folder + "/Deep_Sea.fvx";
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QVERIFY(bytes == book_);
    std::string id = *fvx::format::BookIdOfFile(path);
    QCOMPARE(
        registry_->ReadString(RegistryRoot::kLocalMachine, library::FileInfoKey(id), "Heading"),
        std::string("Deep: Sea"));
    QCOMPARE(
        registry_->ReadDword(RegistryRoot::kLocalMachine, library::BaseKey(), "NoDownloadReadyMsg"),
        1u);
    QVERIFY(!registry_->KeyExists(RegistryRoot::kLocalMachine, entry));
    QVERIFY(window.Messages().contains("no file name"));
    // Told once, through the rich-text message box.
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_.first().startsWith("FvxDownloader|") && boxes_.first().contains("no file name"));
  }

  void quitsByItselfWhenNothingIsLeft() {
    registry_->WriteDword(RegistryRoot::kLocalMachine, library::BaseKey(), "NoDownloadReadyMsg", 1);
    downloader::DownloaderWindow window(*registry_, (home_->path() + "/Library").toStdString());
    QSignalSpy finished(&window, &downloader::DownloaderWindow::finished);
    window.show();
    QVERIFY(finished.wait(5000));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  void secondInstanceAsksTheFirstToShow() {
    QString name = downloader::InstanceName(downloader::kWindowClass, home_->path());
    downloader::SingleInstance first(name);
    QVERIFY(first.TryBecomeFirst());
    QSignalSpy shown(&first, &downloader::SingleInstance::showRequested);
    downloader::SingleInstance second(name);
    QVERIFY(!second.TryBecomeFirst());
    QVERIFY(shown.wait(5000));
  }

  void progressRowsFillTheirShare() {
    downloader::DownloadListModel model([](int) {
      return downloader::DownloadRow{"A book with a title", 50};
    });
    downloader::DownloadListView view;
    view.setModel(&model);
    view.resize(200, 100);
    QImage empty = view.grab().toImage();
    model.SetCount(1);
    QCOMPARE(model.data(model.index(0), downloader::DownloadListModel::kPercentRole).toInt(), 50);
    QImage image = view.grab().toImage();
    QPoint left = view.viewport()->mapTo(&view, QPoint(2, 3));
    QPoint right = view.viewport()->mapTo(&view, QPoint(view.viewport()->width() - 3, 3));
    QCOMPARE(image.pixelColor(left), downloader::FromColorRef(0xF7E0BB));
    QCOMPARE(image.pixelColor(right), downloader::FromColorRef(0xFBF9F5));
    QVERIFY(empty != image);
  }

 private:
  fvx::library::testing::NginxServer nginx_;
  std::string book_;
  std::unique_ptr<QTemporaryDir> home_;
  std::unique_ptr<Registry> registry_;
  QStringList boxes_;  // caption|text of every message box
};

QTEST_MAIN(DownloaderWindowTest)
#include "downloader_window_test.moc"
