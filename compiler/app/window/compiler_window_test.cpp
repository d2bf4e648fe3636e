// The compiler window as a user drives it: drops, hand-overs, stop, the
// options page and its registry values, the message area, "Open".
#include <unistd.h>

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QDir>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "compiler/app/import_options.h"
#include "compiler/app/window/compiler_dialog.h"
#include "compiler/app/window/hand_over_data.h"
#include "compiler/app/window/import_page.h"
#include "compiler/app/window/message_area.h"
#include "compiler/app/window/options_page.h"
#include "imaging/qt_image_library.h"
#include "platform/registry.h"
#include "ui/ipc/window_channel.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::compiler::window {
namespace {

constexpr auto kRoot = platform::RegistryRoot::kLocalMachine;

// n subjects whose headings run backwards, so that the book is unsorted.
QByteArray Backwards(int subjects) {
  QByteArray text;
  for (int i = subjects; i > 0; --i) {
    text += "<new>Subject " + QByteArray::number(100000 + i) + "\nSome text for it.\n";
  }
  return text;
}

}  // namespace

class CompilerWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<platform::Registry> registry_;
  std::unique_ptr<CCompilerDlg> dialog_;
  QStringList questions_;
  int answer_ = ui::kIdYes;

  QString Path(const QString& name) const { return dir_->filePath(name); }
  QString Write(const QString& name, const QByteArray& text) {
    QFile file(Path(name));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
  }
  QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  CCompilerDlg& Dialog() {
    if (!dialog_) dialog_ = std::make_unique<CCompilerDlg>(*registry_, nullptr);
    return *dialog_;
  }
  QStringList Lines() {
    QStringList lines;
    CMessageArea* area = Dialog().message_area();
    for (int i = 0; i < area->count(); ++i) lines << area->LineText(i);
    return lines;
  }
  bool CompileFile(const QString& path) {
    Dialog().import_page()->source()->setText(path);
    return Dialog().Compile();
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    qputenv("FVX_HOME", dir_->path().toLocal8Bit());
    qputenv("FVX_IPC_DIR", dir_->filePath("ipc").toLocal8Bit());
    registry_ = std::make_unique<platform::Registry>(Path("registry.db").toStdString());
    // No log files beside the sources unless a test wants them.
    registry_->WriteDword(kRoot, kImportOptionsKey, "ProduceLog", 0);
    questions_.clear();
    answer_ = ui::kIdYes;
    ui::SetMessageBoxHook([this](QMessageBox* box) {
      questions_ << box->text();
      return answer_;
    });
  }
  void cleanup() {
    dialog_.reset();
    registry_.reset();
    ui::SetMessageBoxHook(nullptr);
    dir_.reset();
  }

  void dropOfDocDoesNothingAndOfUpperCaseTxtCompiles() {
    const QString doc = Write("notes.doc", "<new>A\nText.\n");
    const QString txt = Write("BOOK.TXT", "<new>A\nText.\n");
    CCompilerDlg& dialog = Dialog();
    QSignalSpy finished(&dialog, &CCompilerDlg::compileFinished);
    auto drop = [&](const QString& path) {
      QMimeData mime;
      mime.setUrls({QUrl::fromLocalFile(path)});
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(&dialog, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(&dialog, &event);
    };
    drop(doc);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 0);
    QVERIFY(Lines().isEmpty());
    QVERIFY(!QFile::exists(Path("notes.fvx")));

    drop(txt);
    QVERIFY2(finished.wait(10000), qPrintable(Lines().join("\n")));
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(QFile::exists(Path("BOOK.fvx")));
    QCOMPARE(dialog.import_page()->source()->text(), txt);
    QVERIFY(dialog.open_button()->isEnabled());
    QCOMPARE(dialog.start_button()->text(), QString("Compile"));
    // The source is remembered for the next start.
    QCOMPARE(QString::fromStdString(LastImportFile(*registry_)), txt);

    // A source the compiler cannot take says so and does nothing else.
    QVERIFY(!CompileFile(Path("picture.png")));
    QCOMPARE(Lines().last(), QString("Bad file format!"));
  }

  void secondInstanceHandsItsFileOver() {
    const QString source = Write("handed.txt", "<new>A\nText.\n");
    CCompilerDlg& dialog = Dialog();
    QVERIFY(dialog.ListenForHandOvers());
    QSignalSpy finished(&dialog, &CCompilerDlg::compileFinished);
    QProcess second;
    second.start(FVXC_PROGRAM, {source, "/insid:0000ABCD"});
    QVERIFY(second.waitForStarted());
    QVERIFY(finished.wait(15000));  // the first window compiles the handed file
    // It may well have finished already while the first one compiled.
    QVERIFY(second.state() == QProcess::NotRunning || second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(QString::fromStdString(dialog.insid()), QString("0000ABCD"));
    QCOMPARE(dialog.import_page()->source()->text(), source);
    QVERIFY(QFile::exists(Path("handed.fvx")));
  }

  void handOverWithIdentifierNotOf8CharactersOnlyUpdatesIt() {
    const QString source = Write("never.txt", "<new>A\nText.\n");
    CCompilerDlg& dialog = Dialog();
    QSignalSpy finished(&dialog, &CCompilerDlg::compileFinished);
    const std::string path = source.toStdString();
    auto send = [&](uint32_t id, const std::string& buffer) {
      return dialog.ReceiveHandOver(id, QByteArray::fromStdString(buffer));
    };
    QCOMPARE(send(kCompilerHandOver, CompilerHandOverBuffer("ABC", path)), 1u);
    QCOMPARE(QString::fromStdString(dialog.insid()), QString("ABC"));
    QCOMPARE(send(kCompilerHandOver, CompilerHandOverBuffer("123456789", path)), 1u);
    QCOMPARE(QString::fromStdString(dialog.insid()), QString("123456789"));
    // Refused: another identifier, or no buffer at all.
    QCOMPARE(send(kReaderHandOver, CompilerHandOverBuffer("0000ABCD", path)), 0u);
    QCOMPARE(send(kCompilerHandOver, ""), 0u);
    QCOMPARE(QString::fromStdString(dialog.insid()), QString("123456789"));
    QTest::qWait(300);
    QCOMPARE(finished.count(), 0);
    QVERIFY(!dialog.has_pending_file());
    QVERIFY(!QFile::exists(Path("never.fvx")));
  }

  void cancelDuringParseKeepsTheOlderBook() {
    QByteArray big;
    for (int i = 0; i < 4000; ++i) {
      big += "<new>Subject " + QByteArray::number(i) + "\n" + QByteArray(400, 'w') + "\n";
    }
    const QString source = Write("big.txt", big);
    const QByteArray older = "an older book that must survive";
    Write("big.fvx", older);
    CCompilerDlg& dialog = Dialog();
    // The stop button, pressed at the compile's first breath.
    QTimer::singleShot(0, &dialog, [&] {
      QVERIFY(dialog.IsCompiling());
      QCOMPARE(dialog.start_button()->text(), QString("Stop"));
      QVERIFY(!dialog.open_button()->isEnabled());
      QVERIFY(!dialog.options_page()->isEnabled());
      dialog.StartStop();
    });
    QVERIFY(!CompileFile(source));
    QCOMPARE(questions_.size(), 1);
    QVERIFY(questions_[0].contains("Confirm Cancellation."));
    const QStringList lines = Lines();
    QVERIFY(lines.size() >= 3);
    QVERIFY(lines.contains("Parsing input file... "));
    QVERIFY(!lines.contains("Preparing to process..."));
    QCOMPARE(lines[lines.size() - 2], QString("[  Fatal Error  ] Tool execution canceled by the user."));
    QCOMPARE(lines.last(), QString("1 error(s), 0 warning(s)"));
    QCOMPARE(Read(Path("big.fvx")), older);
    QVERIFY(!dialog.open_button()->isEnabled());
    QVERIFY(dialog.options_page()->isEnabled());

    // Answering "No" lets the compile run to its end.
    answer_ = ui::kIdNo;
    QTimer::singleShot(0, &dialog, [&] { dialog.StartStop(); });
    QVERIFY(CompileFile(source));
    QVERIFY(Read(Path("big.fvx")) != older);
  }

  void cancelButtonAsksFirstAndClosesOnlyOnYes() {
    QByteArray big;
    for (int i = 0; i < 2000; ++i) {
      big += "<new>S" + QByteArray::number(10000 + i) + "\n" + QByteArray(400, 'w') + "\n";
    }
    const QString source = Write("closing.txt", big);
    CCompilerDlg& dialog = Dialog();
    dialog.show();
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    answer_ = ui::kIdNo;
    QTimer::singleShot(0, &dialog, [&] { dialog.findChild<QPushButton*>("2")->click(); });
    QVERIFY(CompileFile(source));
    QCOMPARE(questions_.size(), 1);
    QCOMPARE(rejected.count(), 0);
    QVERIFY(dialog.isVisible());

    answer_ = ui::kIdYes;
    QTimer::singleShot(0, &dialog, [&] { dialog.findChild<QPushButton*>("2")->click(); });
    QVERIFY(!CompileFile(source));
    QCOMPARE(questions_.size(), 2);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(Lines().last(), QString("1 error(s), 0 warning(s)"));
  }

  void segmentationSizeIsClampedWhenLoaded() {
    for (auto [stored, shown] : {std::pair<uint32_t, uint32_t>{5, 16}, {9000, 8000}}) {
      registry_->WriteDword(kRoot, kImportOptionsKey, "SegmentationSize", stored);
      registry_->WriteDword(kRoot, kImportOptionsKey, "FixedSegmentation", 1);
      COptionsPage page(*registry_);
      QCOMPARE(page.findChild<QLineEdit*>("1012")->text(), QString::number(shown));
      QVERIFY(page.findChild<QLineEdit*>("1012")->isEnabled());
      uint32_t size = 16;
      QVERIFY(page.FixedSegmentation(size));
      QCOMPARE(size, shown);
    }
    // What the compile uses is the clamped value: 5 would have become 8
    // segments, 16 stays 16.
    registry_->WriteDword(kRoot, kImportOptionsKey, "SegmentationSize", 5);
    const QString source = Write("segments.txt", Backwards(40));
    QVERIFY(CompileFile(source));
    QCOMPARE(Dialog().book_compiler().statistics().segmentation, 16u);
  }

  void missingValuesAreCreatedWithDefaultsAndSaveWritesAll() {
    registry_->DeleteKey(kRoot, kImportOptionsKey);
    COptionsPage page(*registry_);
    QCOMPARE(registry_->QueryDword(kRoot, kImportOptionsKey, "ProduceLog").value_or(99), 1u);
    QCOMPARE(registry_->QueryDword(kRoot, kImportOptionsKey, "SortType").value_or(99), 3u);
    QCOMPARE(registry_->QueryDword(kRoot, kImportOptionsKey, "SegmentationSize").value_or(99), 1024u);
    QCOMPARE(registry_->QueryDword(kRoot, kImportOptionsKey, "DisableWarnings").value_or(99), 0u);
    QVERIFY(page.findChild<QRadioButton*>("1009")->isChecked());
    QVERIFY(page.findChild<QRadioButton*>("1005")->isChecked());

    // Enabling: the directory only with both log boxes, the segmentation field only when fixed.
    auto* produce = page.findChild<QCheckBox*>("1001");
    auto* in_folder = page.findChild<QCheckBox*>("1002");
    auto* folder = page.findChild<QLineEdit*>("1013");
    auto* save = page.findChild<QPushButton*>("132");
    QVERIFY(!save->isEnabled());
    QVERIFY(in_folder->isEnabled());
    QVERIFY(!folder->isEnabled());
    in_folder->setChecked(true);
    QVERIFY(folder->isEnabled());
    QVERIFY(save->isEnabled());
    produce->setChecked(false);
    QVERIFY(!in_folder->isEnabled());
    QVERIFY(!folder->isEnabled());
    page.findChild<QRadioButton*>("1006")->setChecked(true);
    QVERIFY(page.findChild<QLineEdit*>("1012")->isEnabled());
    page.findChild<QLineEdit*>("1012")->setText("12");
    page.findChild<QRadioButton*>("1007")->setChecked(true);
    page.findChild<QCheckBox*>("1003")->setChecked(true);

    QVERIFY(page.Save());
    QVERIFY(!save->isEnabled());
    QCOMPARE(registry_->ReadDword(kRoot, kImportOptionsKey, "ProduceLog"), 0u);
    QCOMPARE(registry_->ReadDword(kRoot, kImportOptionsKey, "FixedLogPath"), 1u);
    QCOMPARE(registry_->ReadDword(kRoot, kImportOptionsKey, "FixedSegmentation"), 1u);
    QCOMPARE(registry_->ReadDword(kRoot, kImportOptionsKey, "SegmentationSize"), 16u);
    QCOMPARE(registry_->ReadDword(kRoot, kImportOptionsKey, "SortType"), 2u);
    // The underscore choice lives in memory only and starts off.
    QVERIFY(page.ReplaceLeadingUnderscores());
    COptionsPage again(*registry_);
    QVERIFY(!again.ReplaceLeadingUnderscores());
  }

  void askSortTypeAsksOnlyFrom101Subjects() {
    QVERIFY(CompileFile(Write("hundred.txt", Backwards(100))));
    QCOMPARE(questions_.size(), 0);
    answer_ = ui::kIdYes;
    QVERIFY(CompileFile(Write("hundred_one.txt", Backwards(101))));
    QCOMPARE(questions_.size(), 1);
    QVERIFY(questions_[0].contains("File not sorted."));
  }

  void disabledWarningsVanishButAreCounted() {
    registry_->WriteDword(kRoot, kImportOptionsKey, "DisableWarnings", 1);
    registry_->WriteDword(kRoot, kImportOptionsKey, "ProduceLog", 1);
    const QString source = Write("warned.txt",
                                 "<new>A\n<a href=\"X\">1</a> <a href=\"Y\">2</a> <a href=\"Z\">3</a>\n");
    QVERIFY(CompileFile(source));
    for (const QString& line : Lines()) QVERIFY2(!line.startsWith("[ Warning ]"), qPrintable(line));
    QCOMPARE(Lines().last(), QString("0 error(s), 3 warning(s)"));
    const QByteArray log = Read(Path("log_warned.txt"));
    QVERIFY(log.contains("0 error(s), 3 warning(s)"));
    QVERIFY(!log.contains("[ Warning ]"));

    // Shown again once the box is cleared, in the warning colours.
    Dialog().options_page()->findChild<QCheckBox*>("1000")->setChecked(false);
    QVERIFY(CompileFile(source));
    int warnings = 0;
    for (const QString& line : Lines()) warnings += line.startsWith("[ Warning ] ") ? 1 : 0;
    QCOMPARE(warnings, 3);
  }

  void the501stLinePushesOutTheFirst() {
    CMessageArea area;
    for (int i = 1; i <= 501; ++i) area.AddLine("\x03" "01,00line " + std::to_string(i));
    QCOMPARE(area.count(), 500);
    QCOMPARE(area.LineText(0), QString("line 2"));
    QCOMPARE(area.LineText(499), QString("line 501"));
    QCOMPARE(area.item(499)->foreground().color(), area.item(0)->foreground().color());
  }

  void doubleClickOpensTheSourceLineInTheEditor() {
    const QString source = Write("lines.txt", "<new>A\n\n\n<a href=\"Missing\">x</a>\n");
    const QString out = Path("editor.txt");
    qputenv("FVX_STAND_IN_OUT", out.toLocal8Bit());
    qputenv("FVX_EDITOR", QByteArray(READER_STAND_IN) + " --line %l %f");
    QVERIFY(CompileFile(source));
    CMessageArea* area = Dialog().message_area();
    QListWidgetItem* warning = nullptr;
    for (int i = 0; i < area->count(); ++i) {
      if (area->LineText(i).contains("Invalid link")) warning = area->item(i);
    }
    QVERIFY(warning != nullptr);
    emit area->itemDoubleClicked(warning);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(Read(out), "--line\n4\n" + source.toLocal8Bit() + "\n", 5000);
    qunsetenv("FVX_EDITOR");
  }

  void openHandsTheBookToTheReaderThatStartedTheCompiler() {
    const QString source = Write("opened.txt", "<new>A\nText.\n");
    const QString received = Path("received.bin");
    QProcess reader;
    reader.start(READER_STAND_IN, {"--listen", received});
    QVERIFY(reader.waitForStarted());
    const std::string reader_insid = ProcessInsid(static_cast<uint32_t>(reader.processId()));
    QTRY_VERIFY_WITH_TIMEOUT(!ui::FindWindows(kReaderClass).empty(), 5000);
    CCompilerDlg& dialog = Dialog();
    dialog.SetCommandLine({"", reader_insid});
    QVERIFY(CompileFile(source));
    const QString started = Path("started.txt");
    qputenv("FVX_STAND_IN_OUT", started.toLocal8Bit());
    dialog.SetReaderProgram(READER_STAND_IN);
    QVERIFY(dialog.OpenInReader());
    QVERIFY(reader.waitForFinished(5000));
    const std::string expected =
        ReaderHandOverBuffer(reader_insid, Path("opened.fvx").toStdString());
    QCOMPARE(Read(received), QByteArray::fromStdString(expected));
    QVERIFY(!QFile::exists(started));
  }

  void openStartsTheReaderWhenNoReaderTakesTheBook() {
    // A reader of another process id is running: it refuses.
    const QString received = Path("received.bin");
    QProcess other;
    other.start(READER_STAND_IN, {"--listen", received});
    QVERIFY(other.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!ui::FindWindows(kReaderClass).empty(), 5000);
    const QString source = Write("started.txt", "<new>A\nText.\n");
    CCompilerDlg& dialog = Dialog();
    dialog.SetCommandLine({"", "0000FFFF"});
    QVERIFY(CompileFile(source));
    const QString out = Path("arguments.txt");
    qputenv("FVX_STAND_IN_OUT", out.toLocal8Bit());
    dialog.SetReaderProgram(READER_STAND_IN);
    QVERIFY(dialog.OpenInReader());
    const std::string own = ProcessInsid(static_cast<uint32_t>(::getpid()));
    QCOMPARE(dialog.insid() == own, true);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(
        Read(out), QByteArray::fromStdString(Path("started.fvx").toStdString() + "\n/insid\n" + own + "\n"),
        5000);
    QVERIFY(!QFile::exists(received));
    other.kill();
    other.waitForFinished(2000);

    // A reader that cannot be started is said so.
    dialog.SetReaderProgram(Path("no-such-reader"));
    QVERIFY(!dialog.OpenInReader());
    QVERIFY(questions_.last().contains("could not be started"));
  }

  void screenshotAfterCompilingTheSampleBook() {
    std::unique_ptr<imaging::ImageLibrary> images = imaging::CreateQtImageLibrary();
    images->Initialize(FVX_PLUGIN_DIR);
    // The sample with its pictures, compiled where the test may write.
    QVERIFY(QDir().mkpath(Path("book/pictures")));
    for (const QString& name : QDir(FVX_SOURCE_DIR "/examples/pictures").entryList(QDir::Files)) {
      QFile::copy(FVX_SOURCE_DIR "/examples/pictures/" + name, Path("book/pictures/" + name));
    }
    QFile::copy(FVX_SOURCE_DIR "/examples/solar_system.txt", Path("book/solar_system.txt"));
    CCompilerDlg dialog(*registry_, images.get());
    dialog.import_page()->source()->setText(Path("book/solar_system.txt"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.Compile());
    QVERIFY(dialog.link_report_button()->isEnabled());
    QVERIFY(dialog.WriteLinkReportTo(Path("book/links.html")));
    QVERIFY(Read(Path("book/links.html")).contains("What links here"));
    QTest::qWait(50);
    const QString shot = FVX_BINARY_DIR "/screenshots/fvxc_after_compile.png";
    QDir().mkpath(FVX_BINARY_DIR "/screenshots");
    QVERIFY(dialog.grab().save(shot));
    dialog.findChild<QTabWidget*>()->setCurrentIndex(1);
    QTest::qWait(50);
    QVERIFY(dialog.grab().save(FVX_BINARY_DIR "/screenshots/fvxc_options.png"));
  }
};

}  // namespace fvx::compiler::window

QTEST_MAIN(fvx::compiler::window::CompilerWindowTest)
#include "compiler_window_test.moc"
