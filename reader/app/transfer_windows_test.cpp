// The two handheld transfer windows over temporary device and HotSync
// folders: what the buttons do, the messages, cancelling with "Done", and a
// screenshot of each (build/.../screenshots/).
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <thread>

#include "library/folder_device_link.h"
#include "library/folder_install_aide.h"
#include "reader/app/transfer_palm_dialog.h"
#include "reader/app/transfer_ppc_dialog.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {
namespace {

using namespace std::chrono_literals;

// A device on a slow cable: every chunk takes a little while.
class SlowDevice : public library::FolderDeviceLink {
 public:
  using FolderDeviceLink::FolderDeviceLink;
  bool CeWriteFile(library::CeHandle file, const void* data, uint32_t count,
                   uint32_t* written) override {
    std::this_thread::sleep_for(2ms);
    return FolderDeviceLink::CeWriteFile(file, data, count, written);
  }
};

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

void SaveScreenshot(QWidget* window, const QString& name) {
  const QString folder = QStringLiteral(FVX_BINARY_DIR "/screenshots");
  QDir().mkpath(folder);
  QVERIFY(window->grab().save(folder + "/" + name));
}

}  // namespace

class TransferWindowsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() {
    QVERIFY(dir_.isValid());
    messages_.clear();
    ui::SetMessageBoxHook([this](QMessageBox* box) {
      messages_ << box->text();
      if (on_message_) on_message_();
      return ui::kIdOk;
    });
    on_message_ = nullptr;
    device_ = dir_.path() + "/device";
    QDir().mkpath(device_);
  }
  void cleanup() {
    ui::SetMessageBoxHook(nullptr);
    QDir(dir_.path()).removeRecursively();
    QDir().mkpath(dir_.path());
  }

  void ppcCopiesToMainMemoryWithProgress() {
    const QString book = dir_.path() + "/Atlas.fvx";
    WriteFile(book, QByteArray(300 * 1024, 'a'));
    TransferPpcDialog dialog(book, std::make_unique<SlowDevice>(device_.toStdString()), nullptr,
                             200ms);
    dialog.show();
    auto* progress = dialog.findChild<QProgressBar*>("169");
    auto* transfer = dialog.findChild<QPushButton*>("168");
    QVERIFY(progress && transfer && dialog.findChild<QCheckBox*>("166") &&
            dialog.findChild<QPushButton*>("2"));
    QList<int> values;
    connect(progress, &QProgressBar::valueChanged, this, [&](int v) { values << v; });
    QStringList texts;
    on_message_ = [&] {
      texts << progress->format();
      SaveScreenshot(&dialog, "transfer_to_ppc.png");
    };
    QSignalSpy finished(&dialog, &TransferPpcDialog::transferFinished);
    QTest::mouseClick(transfer, Qt::LeftButton);
    QVERIFY(!transfer->isEnabled());
    QVERIFY(dialog.isRunning());
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_[0].contains("successfully transferred to Pocket PC"));
    QCOMPARE(texts, QStringList{"Transferring 100%..."});
    QCOMPARE(QFileInfo(device_ + "/My Documents/Atlas.fvx").size(), 300 * 1024);
    QVERIFY(!QFile::exists(device_ + "/My Documents/Atlas.tmp"));
    // Each percentage once, in order, up to 100; then the bar is cleared.
    QVERIFY(values.size() > 50);
    QCOMPARE(values.takeLast(), 0);
    QCOMPARE(values.last(), 100);
    for (int i = 1; i < values.size(); ++i) QVERIFY(values[i - 1] < values[i]);
    QCOMPARE(progress->format(), QString());
    QVERIFY(transfer->isEnabled());
    QVERIFY(dialog.isVisible());  // the window stays open for another transfer
  }

  void ppcCardOrMainMemory() {
    const QString book = dir_.path() + "/Atlas.fvx";
    WriteFile(book, QByteArray(5000, 'b'));
    TransferPpcDialog dialog(
        book, std::make_unique<library::FolderDeviceLink>(device_.toStdString()), nullptr, 200ms);
    dialog.findChild<QCheckBox*>("166")->setChecked(true);
    QSignalSpy finished(&dialog, &TransferPpcDialog::transferFinished);
    // No card: said, and the book goes to main memory.
    dialog.Transfer();
    QVERIFY(finished.wait(5000));
    QCOMPARE(messages_.size(), 2);
    QVERIFY(messages_[0].contains("Failed to retrieve storage card details."));
    QVERIFY(messages_[1].contains("successfully transferred"));
    QVERIFY(QFile::exists(device_ + "/My Documents/Atlas.fvx"));

    WriteFile(device_ + "/Storage Card/" + library::kStorageCardMarker, {});
    messages_.clear();
    dialog.Transfer();
    QVERIFY(finished.wait(5000));
    QCOMPARE(messages_.size(), 1);
    QVERIFY(QFile::exists(device_ + "/Storage Card/My Documents/Atlas.fvx"));
  }

  void ppcDoneCancelsAndOnlyThenCloses() {
    const QString book = dir_.path() + "/Atlas.fvx";
    WriteFile(book, QByteArray(2 * 1024 * 1024, 'c'));
    TransferPpcDialog dialog(book, std::make_unique<SlowDevice>(device_.toStdString()), nullptr,
                             200ms);
    dialog.show();
    auto* progress = dialog.findChild<QProgressBar*>("169");
    auto* done = dialog.findChild<QPushButton*>("2");
    QSignalSpy finished(&dialog, &TransferPpcDialog::transferFinished);
    dialog.Transfer();
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() >= 2, 5000);  // the window keeps running
    QTest::mouseClick(done, Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_[0].contains("Failed to transfer the file."));
    QVERIFY(QFile::exists(device_ + "/My Documents/Atlas.tmp"));
    QVERIFY(!QFile::exists(device_ + "/My Documents/Atlas.fvx"));
    QTest::mouseClick(done, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
  }

  void ppcDoneCancelsTheWaitForAMissingDevice() {
    const QString book = dir_.path() + "/Atlas.fvx";
    WriteFile(book, QByteArray(100, 'd'));
    TransferPpcDialog dialog(
        book,
        std::make_unique<library::FolderDeviceLink>((dir_.path() + "/unplugged").toStdString()),
        nullptr, 60s);
    dialog.show();
    QSignalSpy finished(&dialog, &TransferPpcDialog::transferFinished);
    dialog.Transfer();
    QTest::qWait(50);
    QCOMPARE(dialog.findChild<QProgressBar*>("169")->format(), QString("Connecting with PPC..."));
    QVERIFY(!dialog.close());  // closing the window cancels and keeps it open
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(messages_.value(0).contains("Failed to transfer the file."));
  }

  void palmListsUsersAndQueues() {
    const QString users = dir_.path() + "/users";
    const QString long_name(60, 'L');
    QDir().mkpath(users + "/Alice Smith");
    QDir().mkpath(users + "/" + long_name);
    WriteFile(users + "/" + long_name + "/CardSlots.txt", "3\n");
    const QString book = dir_.path() + "/Books/Atlas.FVX";
    WriteFile(book, QByteArray(7000, 'e'));
    TransferPalmDialog dialog(book,
                              std::make_unique<library::FolderInstallAide>(users.toStdString()));
    dialog.show();
    auto* list = dialog.findChild<QComboBox*>("165");
    QVERIFY(list && dialog.findChild<QPushButton*>("167") && dialog.findChild<QPushButton*>("2"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentText(), QString("Alice Smith"));
    QCOMPARE(list->itemText(1), long_name);
    SaveScreenshot(&dialog, "transfer_to_palm.png");

    QTest::mouseClick(dialog.findChild<QPushButton*>("167"), Qt::LeftButton);
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_[0].contains("File is scheduled to install"));
    QCOMPARE(QFileInfo(users + "/Alice Smith/Install/Atlas.pdb").size(), 7000);

    list->setCurrentIndex(1);
    dialog.findChild<QCheckBox*>("166")->setChecked(true);
    QVERIFY(dialog.Transfer());
    QVERIFY(QFile::exists(users + "/" + long_name + "/CardInstall/3/Atlas.pdb"));
    QVERIFY(dialog.isVisible());
    QTest::mouseClick(dialog.findChild<QPushButton*>("2"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
  }

  void palmFailures() {
    const QString book = dir_.path() + "/notes.txt";
    WriteFile(book, "text");
    QDir().mkpath(dir_.path() + "/users/Alice");
    TransferPalmDialog wrong_file(
        book, std::make_unique<library::FolderInstallAide>((dir_.path() + "/users").toStdString()));
    QVERIFY(!wrong_file.Transfer());
    QVERIFY(messages_.value(0).contains("Installation failed!"));

    // No HotSync user: an empty list, and the aide refuses the empty name.
    const QString fvx = dir_.path() + "/Atlas.fvx";
    WriteFile(fvx, "book");
    TransferPalmDialog nobody(
        fvx, std::make_unique<library::FolderInstallAide>((dir_.path() + "/none").toStdString()));
    QCOMPARE(nobody.findChild<QComboBox*>("165")->count(), 0);
    QVERIFY(!nobody.Transfer());
    QCOMPARE(messages_.size(), 2);
  }

 private:
  QTemporaryDir dir_;
  QString device_;
  QStringList messages_;
  std::function<void()> on_message_;
};

}  // namespace fvx::reader::app

QTEST_MAIN(fvx::reader::app::TransferWindowsTest)
#include "transfer_windows_test.moc"
