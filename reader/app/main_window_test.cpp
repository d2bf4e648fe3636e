// The reader window with real compiled books, under a display (the web view
// needs one). Dialogs are answered through the window's hooks and the
// message box hook.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEngineView>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEngineSettings>
#include <atomic>
#include <thread>

#include "platform/registry.h"
#include "reader/app/bookmark_editor.h"
#include "reader/app/category_filters.h"
#include "reader/app/hand_over.h"
#include "reader/app/main_window.h"
#include "reader/app/page_fonts.h"
#include "reader/app/page_view.h"
#include "reader/app/reader_messages.h"
#include "reader/app/splash.h"
#include "reader/app/subject_list_model.h"
#include "reader/app/word_index_starter.h"
#include "reader/book_document.h"
#include "reader/word_index.h"
#include "bookformat/testing/test_book.h"
#include "ui/ipc/window_channel.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {

namespace testing = format::testing;

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<platform::Registry> registry_;
  QString sample_;   // the sample book
  QString book_;     // the window test book
  QString big_;      // many subjects, for the search loop
  QStringList boxes_;  // texts (and captions) of message boxes "shown"
  int box_answer_ = ui::kIdOk;

  QString Compile(const QString& source, const QString& output) {
    QProcess fvx;
    fvx.start(QStringLiteral(FVX_BINARY_DIR "/bin/fvx"), {"compile", source, "-o", output});
    if (!fvx.waitForFinished(120000) || fvx.exitCode() != 0) {
      qWarning() << fvx.readAllStandardOutput() << fvx.readAllStandardError();
      return {};
    }
    return output;
  }

  QString WriteBook(const std::string& bytes, const char* name) {
    const QString path = dir_.filePath(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return {};
    out.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
  }

  std::unique_ptr<MainWindow> NewWindow() {
    auto window = std::make_unique<MainWindow>(registry_.get());
    window->wordIndexStarter()->SetStartDelay(-1);  // built only where a test asks
    window->resize(1000, 700);
    window->show();
    return window;
  }

  // Opens and waits until the page is on show.
  bool OpenAndWait(MainWindow& window, const QString& path) {
    QSignalSpy shown(&window, &MainWindow::pageShown);
    if (!window.OpenBook(path)) return false;
    return shown.count() > 0 || shown.wait(15000);
  }

  bool ShowAndWait(MainWindow& window, uint32_t subject, uint32_t jump = 0) {
    QSignalSpy shown(&window, &MainWindow::pageShown);
    if (!window.ShowSubject(subject, jump, false)) return false;
    return shown.count() > 0 || shown.wait(15000);
  }

  QString Heading(MainWindow& window) {
    return QString::fromStdString(std::string(window.document()->Heading(*window.currentSubject())));
  }

  // Clicks the first link whose href contains the text, in the page itself.
  static void ClickLink(MainWindow& window, const QString& contains) {
    window.pageView()->webView()->page()->runJavaScript(
        QStringLiteral("(function(){var l=document.querySelectorAll('a[href]');"
                       "for(var i=0;i<l.length;++i){if(l[i].getAttribute('href').indexOf('%1')>=0)"
                       "{l[i].click();return;}}})();")
            .arg(contains));
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    qputenv("FVX_HOME", dir_.filePath("home").toUtf8());
    qputenv("FVX_IPC_DIR", dir_.filePath("ipc").toUtf8());
    qputenv("FVX_REGISTRY", dir_.filePath("registry.db").toUtf8());
    QDir().mkpath(dir_.filePath("ipc"));
    registry_ = std::make_unique<platform::Registry>(dir_.filePath("registry.db").toStdString());
    sample_ = Compile(QStringLiteral(FVX_SOURCE_DIR "/examples/solar_system.txt"),
                      dir_.filePath("solar_system.fvx"));
    // Compiled from a copy: the compiler writes its log beside the source.
    QVERIFY(QFile::copy(QStringLiteral(FVX_SOURCE_DIR "/reader/app/testdata/window_book.txt"),
                        dir_.filePath("window_book.txt")));
    book_ = Compile(dir_.filePath("window_book.txt"), dir_.filePath("Window Book.fvx"));
    QString big_source;
    for (int i = 0; i < 3000; ++i) {
      big_source += QStringLiteral("<new>Entry %1\nThe harbour of entry %1 lies on the coast.\n\n")
                        .arg(i, 5, 10, QChar('0'));
    }
    QFile file(dir_.filePath("big.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(big_source.toUtf8());
    file.close();
    big_ = Compile(file.fileName(), dir_.filePath("big.fvx"));
    QVERIFY(!sample_.isEmpty() && !book_.isEmpty() && !big_.isEmpty());
    ui::SetMessageBoxHook([this](QMessageBox* box) {
      boxes_ << box->windowTitle() + "|" + box->text();
      return box_answer_;
    });
  }

  void init() {
    boxes_.clear();
    box_answer_ = ui::kIdOk;
  }

  void cleanupTestCase() { ui::SetMessageBoxHook(nullptr); }

  void commandLinePathKeepsItsCase() {
    QDir().mkpath(dir_.filePath("Mixed Case"));
    const QString path = dir_.filePath("Mixed Case/Solar.FVX");
    QVERIFY(QFile::copy(sample_, path));
    QCOMPARE(BookPathFromArguments({"-nologo", path, "/other"}), path);
    bool no_logo = false;
    BookPathFromArguments({"/nologo", path}, &no_logo);
    QVERIFY(no_logo);

    auto window = NewWindow();
    QVERIFY(!window->OpenBook(path.toLower()));  // no such file on a case-sensitive system
    QVERIFY(window->document() == nullptr);
    QVERIFY(OpenAndWait(*window, path));
    QCOMPARE(window->windowTitle(), QStringLiteral("Solar - Folivox3"));
    QCOMPARE(QString::fromStdString(window->document()->FilePath()), path);
    // A file that is not a book changes nothing and says nothing.
    QVERIFY(!window->OpenBook(QStringLiteral(FVX_SOURCE_DIR "/examples/solar_system.txt")));
    QVERIFY(!window->OpenBook(dir_.filePath("nodot")));
    QCOMPARE(QString::fromStdString(window->document()->FilePath()), path);
    QVERIFY(boxes_.isEmpty());
  }

  void startUpOpensTheManualFirstThenTheCatalogue() {
    registry_->DeleteValue(platform::RegistryRoot::kLocalMachine, std::string(kFvxRegistryKey),
                           "FirstTime");
    auto first = NewWindow();
    first->StartUp({"-nologo"});
    QVERIFY(first->document() != nullptr);
    QCOMPARE(first->windowTitle(), QStringLiteral("FVXWindowsManual - Folivox3"));
    QCOMPARE(first->document()->Heading(0), std::string_view("About Folivox"));

    // Afterwards the catalogue, when there is one, in catalogue mode.
    QDir().mkpath(dir_.filePath("home"));
    QVERIFY(QFile::copy(book_, dir_.filePath("home/Fvx_Lib.fvx")));
    auto second = NewWindow();
    second->StartUp({});
    QVERIFY(second->document() != nullptr);
    QCOMPARE(second->windowTitle(), QStringLiteral("[Net Library] - Folivox3"));
    QFile::remove(dir_.filePath("home/Fvx_Lib.fvx"));
    auto third = NewWindow();
    third->StartUp({});
    QVERIFY(third->document() == nullptr);  // no catalogue yet: nothing happens
  }

  void fileDialogAndRecentFilesOpenTheBook() {
    auto window = NewWindow();
    QString filter;
    window->ask_open_path = [&](const QString& filters) {
      filter = filters;
      return book_;
    };
    window->action(kCmdFileOpen)->trigger();
    QVERIFY(filter.contains("*.fvx") && filter.contains("*.fv)"));
    QCOMPARE(QString::fromStdString(window->document()->FilePath()), book_);
    QCOMPARE(window->windowTitle(), QStringLiteral("Window Book - Folivox3"));
    // The book heads the recent files, in the registry too.
    auto second = NewWindow();
    QMenu* recent = second->findChild<QMenu*>("recent_files");
    QVERIFY(recent);
    QAction* first = recent->findChild<QAction*>(QString::number(kCmdMruFirst));
    QVERIFY(first);
    first->trigger();
    QCOMPARE(QString::fromStdString(second->document()->FilePath()), book_);
  }

  void dropOpensTheFirstBookAndAsksAboutOldBooks() {
    auto window = NewWindow();
    QStringList started;
    window->start_compiler = [&](const QStringList& arguments) {
      started = arguments;
      return true;
    };
    const QString old_book = dir_.filePath("old.FV");
    QFile(old_book).open(QIODevice::WriteOnly);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir_.filePath("notes.txt")), QUrl::fromLocalFile(old_book),
                  QUrl::fromLocalFile(book_)});
    box_answer_ = ui::kIdYes;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: the application passes drops on only while a drag runs.
    static_cast<QObject*>(window.get())->event(&drop);
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].contains("Conversion required"));
    QCOMPARE(started.size(), 2);
    QVERIFY(started[0].startsWith("/insid:"));
    QCOMPARE(started[1], old_book);
    QVERIFY(window->document() == nullptr);  // the ".fv" stops the drop

    mime.setUrls({QUrl::fromLocalFile(dir_.filePath("notes.txt")), QUrl::fromLocalFile(book_)});
    QDropEvent drop2(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject*>(window.get())->event(&drop2);
    QVERIFY(window->document() != nullptr);
  }

  void searchRefusesOpeningAndIsCancelledFrom110() {
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, big_));
    const uint32_t rows = window->document()->ListRowCount();
    bool refused = false;
    bool was_running = false;
    QTimer::singleShot(0, [&] {
      was_running = window->searchRunning();
      refused = !window->OpenBook(book_);
      window->action(kCmdSearchBackwards)->trigger();  // 110 cancels
    });
    SearchQuery query;
    query.words[0] = "harbour";
    query.find_all = true;
    query.from_beginning = true;
    window->StartSearch(query);
    QVERIFY(was_running);
    QVERIFY(refused);
    QVERIFY(!window->searchRunning());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].startsWith(ReaderString(kMsgSearchInProgressCaption)));
    QVERIFY(boxes_[0].contains("cant open another document"));
    // The cancelled find-all search leaves the list as it was.
    QVERIFY(!window->document()->HasResults());
    QCOMPARE(window->document()->ListRowCount(), rows);
    QCOMPARE(QString::fromStdString(window->document()->FilePath()), big_);
  }

  void searchFindsAndHighlights() {
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, book_));
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    SearchQuery query;
    query.words[0] = "harbour";
    query.from_beginning = true;
    window->StartSearch(query);
    QVERIFY(shown.wait(15000));
    QCOMPARE(Heading(*window), QStringLiteral("Gamma"));
    QVERIFY(window->action(kCmdHighlights)->isChecked());
    QVERIFY(window->pageView()->pageBytes().contains("findloc"));
    // No more matches after the last one: "Search completed".
    window->ContinueSearch(SearchDirection::kForwards);
    QVERIFY(shown.wait(15000) || true);
    QVERIFY(!boxes_.isEmpty() || Heading(*window) == "Long page");
  }

  void headingBoxFollowsTyping() {
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, sample_));
    QTest::keyClicks(window->headingBox(), "jup");
    QVERIFY(window->headingLookupHit());
    const QModelIndex index = window->subjectList()->currentIndex();
    QCOMPARE(index.data().toString(), QStringLiteral("Jupiter"));
    // Pictures 223 and 232 beside the box: green when found, red when not.
    auto* picture = window->findChild<QLabel*>("lookup_picture");
    auto tint = [&] {
      const QImage image = picture->pixmap().toImage();
      return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 5);
    };
    QVERIFY(tint().green() > 2 * tint().red());
    window->headingBox()->clear();
    QTest::keyClicks(window->headingBox(), "zzzz");
    QVERIFY(!window->headingLookupHit());
    QVERIFY(tint().red() > 2 * tint().green());
  }

  void handOverWithAnotherPidIsRefused() {
    auto window = NewWindow();
    const int64_t own = QCoreApplication::applicationPid();
    ui::CopyData data;
    data.data_id = kHandOverDataId;
    data.sender_pid = own + 1;
    data.bytes = QByteArray::fromStdString(BuildHandOver(own + 7, book_.toStdString(), ""));
    QCOMPARE(window->OnHandOver(data), 0u);
    QVERIFY(window->document() == nullptr);
    data.bytes = QByteArray::fromStdString(BuildHandOver(own, book_.toStdString(), "Beta"));
    data.data_id = ui::FourCc("FVXC");
    QCOMPARE(window->OnHandOver(data), 0u);
    data.data_id = kHandOverDataId;
    data.sender_pid = own;  // from itself
    QCOMPARE(window->OnHandOver(data), 0u);

    // Over the socket, from another process: this program started again as
    // a sender (see main).
    QVERIFY(window->ListenForHandOver());
    QCOMPARE(ui::FindWindows(kReaderWindowClass).size(), size_t(1));
    QProcess sender;
    sender.start(QCoreApplication::applicationFilePath(),
                 {"--send-hand-over", PidText(own + 3).c_str(), book_, "beta"});
    QTRY_VERIFY_WITH_TIMEOUT(sender.state() == QProcess::NotRunning, 15000);
    QCOMPARE(sender.exitCode(), 2);  // refused: another reader's pid
    sender.start(QCoreApplication::applicationFilePath(),
                 {"--send-hand-over", PidText(own).c_str(), book_, "beta"});
    QTRY_VERIFY_WITH_TIMEOUT(sender.state() == QProcess::NotRunning, 15000);
    QCOMPARE(sender.exitCode(), 1);  // the answer
    QVERIFY(window->document() != nullptr);
    QCOMPARE(Heading(*window), QStringLiteral("Beta"));
  }

  void linkKindsAct() {
    auto window = NewWindow();
    QUrl outside;
    window->open_external = [&](const QUrl& url) { outside = url; };
    QVERIFY(OpenAndWait(*window, book_));
    QCOMPARE(Heading(*window), QStringLiteral("Alpha"));

    // Kind 4: the address reaches the desktop exactly as stored.
    ClickLink(*window, "<4:");
    QTRY_VERIFY_WITH_TIMEOUT(outside.isValid(), 10000);
    QCOMPARE(outside.toEncoded(), QByteArray("https://example.org/a%20b?q=%3Cx%3E"));

    // Kind 0: another subject.
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    ClickLink(*window, "<0:");
    QVERIFY(shown.wait(10000));
    QCOMPARE(Heading(*window), QStringLiteral("Beta"));
    QVERIFY(window->action(kCmdBack)->isEnabled());
    QVERIFY(!window->action(kCmdForward)->isEnabled());
    window->Back();
    QVERIFY(shown.wait(10000));
    QCOMPARE(Heading(*window), QStringLiteral("Alpha"));
    QVERIFY(!window->action(kCmdBack)->isEnabled());
    QVERIFY(window->action(kCmdForward)->isEnabled());

    // Kind 5: the filter's subjects become the list.
    ClickLink(*window, "<5:");
    QTRY_VERIFY_WITH_TIMEOUT(window->document()->HasResults(), 10000);
    QCOMPARE(window->document()->Results(), (std::vector<uint32_t>{1, 2}));
    QCOMPARE(window->subjectModel()->rowCount(), 2);

    // Raw link text with escapes reaches the engine untouched.
    window->OnLinkClicked("fvxapp://<0:3:0>");
    QVERIFY(shown.wait(10000));
    QCOMPARE(Heading(*window), QStringLiteral("Long page"));
  }

  void treeLinksListChildren() {
    testing::TestBookSpec spec;
    spec.subjects = {{"Animals", "Animal life", false}, {"Cats", "Cats purr", false},
                     {"Lions", "Lions roar", false}, {"Plants", "Green", false},
                     {"Tigers", "Stripes", false}};
    testing::TestCategory tree;
    tree.name = "fvxchildof";
    tree.flags = 0x8;
    tree.names = {"Animals", "Cats", "root"};
    tree.values_of_subject = {{2}, {0}, {1}, {2}, {1}};
    spec.categories = {tree};
    const QString path = WriteBook(testing::BuildTestBook(spec), "tree.fvx");
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, path));
    QVERIFY(window->document()->IsTreeMode());
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    window->OnLinkClicked("fvxapp://<6:1:0>");  // the children of Cats
    QVERIFY(shown.wait(10000));
    QCOMPARE(window->document()->Results(), (std::vector<uint32_t>{2, 4}));
    QCOMPARE(Heading(*window), QStringLiteral("Cats"));
    window->action(kCmdTree)->trigger();  // 121 drops the tree: every subject
    QVERIFY(!window->document()->HasResults());
  }

  void pagesAndRowsKeepTheBooksCharacterSet() {
    // The test book names Windows-1252.
    testing::TestBookSpec spec =
        testing::SimpleBook({"Un caf\xE9 noir \x80 2.", "Th\xC3\xA9 vert."});
    spec.subjects[0].heading = "Caf\xE9";
    spec.subjects[1].heading = "Th\xE9";
    const QString path = WriteBook(testing::BuildTestBook(spec), "cp1252.fvx");
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, path));
    QCOMPARE(window->charset(), QByteArray("windows-1252"));
    QCOMPARE(window->subjectModel()->index(0).data().toString(), QString::fromUtf8("Café"));
    QCOMPARE(window->pageView()->Evaluate("document.body.innerText").toString().contains(
                 QString::fromUtf8("Un café noir € 2.")),
             true);
    // A compiled book names no charset: UTF-8 headings with multi-byte
    // sequences make it UTF-8.
    QFile source(dir_.filePath("utf8.txt"));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("<new>Caf\xC3\xA9\nUn caf\xC3\xA9.\n\n<new>Th\xC3\xA9\nTh\xC3\xA9 vert.\n");
    source.close();
    const QString utf8 = Compile(source.fileName(), dir_.filePath("utf8.fvx"));
    QVERIFY(OpenAndWait(*window, utf8));
    QCOMPARE(window->charset(), QByteArray("UTF-8"));
    QCOMPARE(window->subjectModel()->index(0).data().toString(), QString::fromUtf8("Café"));
    QVERIFY(ShowAndWait(*window, 1));
    QVERIFY(window->pageView()->Evaluate("document.body.innerText").toString().contains(
        QString::fromUtf8("Thé vert.")));
  }

  void lastPageAndScrollAreRestored() {
    {
      auto window = NewWindow();
      QVERIFY(OpenAndWait(*window, book_));
      QVERIFY(ShowAndWait(*window, 3));
      window->pageView()->ScrollTo(400);
      QTRY_VERIFY_WITH_TIMEOUT(window->pageView()->scrollState().offset >= 390, 10000);
      window->close();
    }
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, book_));
    QCOMPARE(Heading(*window), QStringLiteral("Long page"));
    QTRY_VERIFY_WITH_TIMEOUT(window->pageView()->scrollState().offset >= 390, 10000);
    QVERIFY(window->pageView()->scrollState().offset <= 410);
  }

  void bookmarksAtTheVisibleTopAndTheMenuLimit() {
    std::vector<std::string> texts;
    std::string long_text;
    for (int i = 0; i < 80; ++i) long_text += "Line " + std::to_string(i) + " of the page.\n";
    testing::TestBookSpec spec = testing::SimpleBook({"short", long_text});
    spec.slot_table_slots = 64;
    const QString path = WriteBook(testing::BuildTestBook(spec), "marks.fvx");

    auto window = NewWindow();
    window->ask_bookmark_name = [](const QString& heading) { return std::optional<QString>(heading + " mark"); };
    QVERIFY(OpenAndWait(*window, path));
    QVERIFY(ShowAndWait(*window, 1));
    window->pageView()->ScrollTo(300);
    QTRY_VERIFY_WITH_TIMEOUT(window->pageView()->scrollState().offset >= 290, 10000);
    window->AddBookmarkAtTop();
    QTRY_COMPARE_WITH_TIMEOUT(window->document()->BookmarkCount(), 1u, 10000);
    uint32_t subject = 0, position = 0;
    QVERIFY(window->document()->Bookmark(0, &subject, &position));
    QCOMPARE(subject, 1u);
    QVERIFY(position > 0);
    QCOMPARE(QString::fromStdString(std::string(window->document()->BookmarkName(0))),
             QStringLiteral("Subject 001 mark"));
    QVERIFY(window->bookmarksMenu()->findChild<QAction*>("33000"));

    for (int k = 1; k <= 50; ++k) {
      QVERIFY(window->document()->AddBookmark(0, 0, "m" + std::to_string(k)).has_value());
    }
    QVERIFY(OpenAndWait(*window, path));  // rebuilds the menu
    QCOMPARE(window->document()->BookmarkCount(), 51u);
    QVERIFY(window->bookmarksMenu()->findChild<QAction*>("33049"));
    QVERIFY(!window->bookmarksMenu()->findChild<QAction*>("33050"));

    QVERIFY(ShowAndWait(*window, 0));
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    window->bookmarksMenu()->findChild<QAction*>("33000")->trigger();
    QVERIFY(shown.wait(10000));
    QCOMPARE(*window->currentSubject(), 1u);
    QVERIFY(window->pageView()->pageBytes().contains(
        QStringLiteral("FvxAutoJumpAnchor_%1").arg(position).toLatin1()));
    QVERIFY(window->pageView()->scrollState().offset > 150);
  }


  // Values chosen in the drop-down lists and the tree join the filter in the
  // chosen mode, and the subject list follows; the same steps on a
  // document of its own give the expected lists.
  void filterDropDownsAndModes() {
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, sample_));
    CategoryFilters* filters = window->categoryFilters();
    QComboBox* type = filters->dropDown(1);
    QComboBox* orbits = filters->dropDown(2);
    QVERIFY(type && orbits);
    QCOMPARE(type->accessibleName(), QStringLiteral("Type"));
    QCOMPARE(orbits->accessibleName(), QStringLiteral("Orbits"));

    BookDocument expected;
    OpenCode code;
    QVERIFY(expected.Open(sample_.toStdString(), &code));
    const uint32_t type_category = *expected.DropDownCategory(1);
    const uint32_t orbits_category = *expected.DropDownCategory(2);
    auto value_of = [&](uint32_t category, const char* name) {
      for (uint32_t v = 0; v < expected.ValueCount(category); ++v) {
        if (expected.ValueName(category, v) == name) return v;
      }
      return kNoIndex;
    };
    auto choose = [&](QComboBox* box, const QString& text) {
      box->showPopup();  // lists of tree rows are filled when they drop down
      box->hidePopup();
      const int index = box->findText(text);
      QVERIFY2(index > 0, qPrintable(text));
      box->setCurrentIndex(index);
      Q_EMIT box->activated(index);
    };
    auto list_follows = [&] {
      QCOMPARE(window->document()->Results(), expected.Results());
      QCOMPARE(window->subjectModel()->rowCount(), static_cast<int>(expected.Results().size()));
      QCOMPARE(window->currentSubject(), std::optional<uint32_t>(expected.Results().front()));
    };

    // New: the moons.
    choose(type, "moon");
    QVERIFY(expected.ApplyFilter(type_category, value_of(type_category, "moon"),
                                 FilterOperator::kEqual, FilterMode::kReplace));
    list_follows();
    // AND: the moons of Jupiter; the second list shows its value.
    filters->findChild<QToolButton*>("filter_mode_and")->click();
    QCOMPARE(filters->mode(), FilterMode::kAnd);
    choose(orbits, "Jupiter");
    QVERIFY(expected.ApplyFilter(orbits_category, value_of(orbits_category, "Jupiter"),
                                 FilterOperator::kEqual, FilterMode::kAnd));
    list_follows();
    QVERIFY(expected.Results().size() < 10);
    QCOMPARE(orbits->currentText(), QStringLiteral("Jupiter"));
    // OR through the Type row's own list in the tree: the dwarf planets join.
    filters->findChild<QToolButton*>("filter_mode_or")->click();
    uint32_t type_row = 0;
    while (window->categoryTree()->topLevelItem(static_cast<int>(type_row))->text(0) != "Type") {
      ++type_row;
    }
    QComboBox* type_row_list = filters->rowChoices(type_row);
    QVERIFY(type_row_list);
    choose(type_row_list, "dwarf planet");
    QVERIFY(expected.ApplyFilter(type_category, value_of(type_category, "dwarf planet"),
                                 FilterOperator::kEqual, FilterMode::kOr));
    list_follows();
    QVERIFY2(filters->summary()->text().startsWith(
                 "Type = moon AND Orbits = Jupiter OR Type = dwarf planet: "),
             qPrintable(filters->summary()->text()));
    // The same condition again changes nothing.
    choose(type_row_list, "dwarf planet");
    list_follows();
    // New again from a value row of the tree: the list is that value alone.
    filters->findChild<QToolButton*>("filter_mode_new")->click();
    QTreeWidgetItem* type_item = window->categoryTree()->topLevelItem(static_cast<int>(type_row));
    type_item->setExpanded(true);
    QTreeWidgetItem* planet = nullptr;
    for (int i = 0; i < type_item->childCount(); ++i) {
      if (type_item->child(i)->text(0) == "planet") planet = type_item->child(i);
    }
    QVERIFY(planet);
    Q_EMIT window->categoryTree()->itemClicked(planet, 0);
    QVERIFY(expected.ApplyFilter(type_category, value_of(type_category, "planet"),
                                 FilterOperator::kEqual, FilterMode::kReplace));
    list_follows();
    QCOMPARE(expected.Results().size(), size_t(8));
    QCOMPARE(orbits->currentIndex(), 0);  // no longer part of the filter
    QCOMPARE(type->currentText(), QStringLiteral("planet"));
    // Clear: every subject again.
    filters->findChild<QToolButton*>("filter_clear")->click();
    QVERIFY(!window->document()->HasResults());
    QCOMPARE(window->subjectModel()->rowCount(),
             static_cast<int>(window->document()->PageCount()));
    QVERIFY(filters->summary()->text().startsWith("All "));
  }

  // The page's own tools: find in page, Copy following the selection, drag
  // mode, the dark pages switched while a page is on show, and PDF export.
  void pageTools() {
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, book_));
    QVERIFY(ShowAndWait(*window, 3));  // the long page
    QWebEnginePage* page = window->pageView()->webView()->page();

    // Find in page: Ctrl+F opens the bar, typing finds in the page.
    auto* find_box = window->findChild<QLineEdit*>("find_in_page");
    window->findChild<QAction*>("find_in_page_command")->trigger();
    QVERIFY(find_box->isVisible());
    QSignalSpy found(page, &QWebEnginePage::findTextFinished);
    QTest::keyClicks(find_box, "harbour");
    QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty() &&
                                 found.last().at(0).value<QWebEngineFindTextResult>()
                                         .numberOfMatches() >= 10,
                             10000);
    found.clear();
    find_box->setText("no such words here");
    QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty() && found.last().at(0).value<QWebEngineFindTextResult>()
                                                         .numberOfMatches() == 0,
                             10000);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(find_box, Qt::Key_Escape);
    QVERIFY(!find_box->isVisible());

    // Copy is enabled only while text is selected, and copies it.
    QAction* copy = window->action(kCmdEditCopy);
    QVERIFY(!copy->isEnabled());
    page->triggerAction(QWebEnginePage::SelectAll);
    QTRY_VERIFY_WITH_TIMEOUT(copy->isEnabled(), 10000);
    QApplication::clipboard()->clear();
    copy->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::clipboard()->text().contains("Paragraph 9"), 10000);
    page->triggerAction(QWebEnginePage::Unselect);
    QTRY_VERIFY_WITH_TIMEOUT(!copy->isEnabled(), 10000);

    // Drag mode 160: a drag over the text scrolls the page, only while on.
    const QString drag = QStringLiteral(
        "(function(){window.scrollTo(0,0);var t=document.body;"
        "function ev(k,y){t.dispatchEvent(new MouseEvent(k,{clientX:200,clientY:y,button:0,"
        "bubbles:true,cancelable:true}));}"
        "ev('mousedown',400);ev('mousemove',300);ev('mousemove',250);ev('mouseup',250);"
        "return window.scrollY;})()");
    QCOMPARE(window->pageView()->Evaluate(drag).toInt(), 0);
    window->action(kCmdDragMode)->setChecked(true);
    QCOMPARE(window->pageView()->Evaluate(drag).toInt(), 150);
    window->action(kCmdDragMode)->setChecked(false);
    QCOMPARE(window->pageView()->Evaluate(drag).toInt(), 0);

    // Dark pages switch on and off on the page on show.
    const QString background = "getComputedStyle(document.body).backgroundColor";
    auto* dark = window->findChild<QAction*>("dark_theme");
    const QString darkened = QStringLiteral("rgb(30, 31, 34)");
    dark->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(window->pageView()->Evaluate(background).toString() != darkened, 10000);
    dark->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(window->pageView()->Evaluate(background).toString(),
                              QStringLiteral("rgb(30, 31, 34)"), 10000);
    // ... and stay on for the next page.
    QVERIFY(ShowAndWait(*window, 0));
    QCOMPARE(window->pageView()->Evaluate(background).toString(), QStringLiteral("rgb(30, 31, 34)"));
    dark->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(window->pageView()->Evaluate(background).toString() != darkened, 10000);

    // The page font is drawn in the desktop's sans-serif font through the
    // alias, not in the engine's fallback (made monospace here to tell).
    page->settings()->setFontFamily(QWebEngineSettings::StandardFont, "monospace");
    const QString width = QStringLiteral(
        "(function(f){var s=document.createElement('span');s.style.fontFamily=f;"
        "s.style.fontSize='40px';s.textContent='Wide words in a line';document.body.appendChild(s);"
        "var w=s.getBoundingClientRect().width;s.remove();return w;})(%1)");
    auto width_of = [&](const QString& family) {
      return window->pageView()->Evaluate(width.arg("'" + family + "'")).toDouble();
    };
    const double fallback = width_of("monospace");
    QTRY_COMPARE_WITH_TIMEOUT(width_of("NoSuchFontAnywhere"), fallback, 10000);  // setting applied
    const double page_font = width_of("\"Microsoft Sans Serif\"");
    QVERIFY(page_font > 0 && page_font != fallback);
    QCOMPARE(page_font, width_of("\"" + DesktopFamilyOf("sans-serif", {}) + "\""));
    page->settings()->setFontFamily(QWebEngineSettings::StandardFont, "sans-serif");

    // The page as a PDF file.
    const QString pdf = dir_.filePath("page.pdf");
    QVERIFY(window->pageView()->PrintToPdf(pdf));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.size() > 1000);
    QCOMPARE(file.read(5), QByteArray("%PDF-"));
  }

  // The editor dialog from the Bookmarks menu: rename and delete, each
  // after its question, and the menu follows.
  void bookmarkEditorRenamesAndDeletes() {
    testing::TestBookSpec spec = testing::SimpleBook({"first", "second", "third"});
    spec.slot_table_slots = 8;
    const QString path = WriteBook(testing::BuildTestBook(spec), "edit_marks.fvx");
    auto window = NewWindow();
    QVERIFY(OpenAndWait(*window, path));
    for (const char* name : {"one", "two", "three"}) {
      QVERIFY(window->document()->AddBookmark(1, 0, name).has_value());
    }
    box_answer_ = ui::kIdYes;
    QString renamed_to;
    QTimer::singleShot(0, [&] {
      auto* editor = qobject_cast<BookmarkEditor*>(QApplication::activeModalWidget());
      QVERIFY(editor);
      auto* list = editor->findChild<QListWidget*>("bookmark_list");
      QCOMPARE(list->count(), 3);
      list->setCurrentRow(1);
      QVERIFY(editor->RenameCurrent("second mark"));
      list->clearSelection();
      list->item(0)->setSelected(true);
      list->item(2)->setSelected(true);
      editor->findChild<QPushButton*>("delete")->click();
      QCOMPARE(list->count(), 1);
      renamed_to = list->item(0)->text();
      editor->accept();
    });
    window->action(kCmdEditBookmarks)->trigger();
    QCOMPARE(renamed_to, QStringLiteral("second mark"));
    QCOMPARE(boxes_.size(), 2);  // the rename question, the delete question
    QCOMPARE(window->document()->BookmarkCount(), 1u);
    QCOMPARE(window->document()->BookmarkName(0), std::string_view("second mark"));
    QAction* entry = window->bookmarksMenu()->findChild<QAction*>("33000");
    QVERIFY(entry);
    QCOMPARE(entry->text(), QStringLiteral("second mark"));
    QVERIFY(!window->bookmarksMenu()->findChild<QAction*>("33001"));

    // Answering No leaves the bookmark as it is.
    box_answer_ = ui::kIdNo;
    QTimer::singleShot(0, [&] {
      auto* editor = qobject_cast<BookmarkEditor*>(QApplication::activeModalWidget());
      QVERIFY(editor);
      editor->findChild<QListWidget*>("bookmark_list")->setCurrentRow(0);
      QVERIFY(!editor->RenameCurrent("other"));
      editor->findChild<QListWidget*>("bookmark_list")->item(0)->setSelected(true);
      QVERIFY(!editor->DeleteSelected());
      editor->accept();
    });
    window->action(kCmdEditBookmarks)->trigger();
    QCOMPARE(window->document()->BookmarkCount(), 1u);
    QCOMPARE(window->document()->BookmarkName(0), std::string_view("second mark"));
  }

  // A book without a word index gets one in the background, and its
  // searches then answer from it; the window stays usable meanwhile.
  void wordIndexIsBuiltInTheBackground() {
    auto window = NewWindow();
    window->wordIndexStarter()->SetStartDelay(0);
    QSignalSpy built(window->wordIndexStarter(), &WordIndexStarter::finished);
    QVERIFY(OpenAndWait(*window, big_));
    const std::string id = window->document()->BookId();
    QVERIFY(!built.isEmpty() || built.wait(60000));
    QCOMPARE(built.first().at(0).toBool(), true);
    QVERIFY(QFile::exists(QString::fromStdString(WordIndexPath(id))));
    SearchQuery query;
    query.words[0] = "harbour";
    query.find_all = true;
    query.from_beginning = true;
    window->StartSearch(query);
    auto* document = static_cast<BookDocument*>(window->document());
    QVERIFY2(document->LastSearch().word_index_used,
             document->LastSearch().word_index_note.c_str());
    QCOMPARE(document->Results().size(), size_t(3000));
    // Opened again: the index is there, no second build.
    built.clear();
    QVERIFY(OpenAndWait(*window, big_));
    QTest::qWait(200);
    QVERIFY(!window->wordIndexStarter()->building());
    QVERIFY(built.isEmpty());
  }

  // Pictures of the window for people to look at, under the build folder;
  // each must show more than a blank page.
  void screenshots() {
    const QString folder = QStringLiteral(FVX_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    // The first page as the light text view draws it while the web engine
    // starts.
    {
      auto early = std::make_unique<MainWindow>(registry_.get());
      early->wordIndexStarter()->SetStartDelay(-1);
      early->resize(1200, 800);
      QSignalSpy drawn(early->pageView(), &PageView::pageDrawn);
      QVERIFY(early->OpenBook(sample_));
      QVERIFY(early->ShowSubject(0, 0, false));
      early->show();
      QVERIFY(drawn.count() > 0 || drawn.wait(10000));
      QVERIFY(early->pageView()->showingPlaceholder());
      QVERIFY(early->grab().toImage().save(folder + "/first_subject_placeholder.png"));
      QSignalSpy shown(early.get(), &MainWindow::pageShown);
      QVERIFY(shown.wait(15000));
      QVERIFY(!early->pageView()->showingPlaceholder());
    }
    // The start-up picture: shown at once, gone by itself after two seconds.
    {
      ShowSplash();
      QWidget* splash = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "splash" && widget->isVisible()) splash = widget;
      }
      QVERIFY(splash != nullptr);
      QVERIFY(splash->grab().toImage().save(folder + "/splash.png"));
      QPointer<QWidget> watched(splash);
      QTRY_VERIFY_WITH_TIMEOUT(watched.isNull() || !watched->isVisible(), 5000);
    }
    auto window = NewWindow();
    window->resize(1200, 800);
    auto shoot = [&](const QString& name) {
      QTest::qWait(400);  // let the page paint
      const QImage image = window->grab().toImage();
      QVERIFY(image.save(folder + "/" + name + ".png"));
      // Not blank: the page area holds text in many shades.
      const QRect page = window->pageView()->geometry().translated(
          window->pageView()->mapTo(window.get(), QPoint(0, 0)) - window->pageView()->pos());
      QSet<QRgb> colours;
      for (int y = page.top(); y < page.bottom(); y += 3) {
        for (int x = page.left(); x < page.right(); x += 3) colours.insert(image.pixel(x, y));
      }
      QVERIFY2(colours.size() > 8, qPrintable(name + ": the page looks blank"));
    };
    QVERIFY(OpenAndWait(*window, sample_));
    QVERIFY(window->document()->HasFrontCover());
    QSignalSpy shown(window.get(), &MainWindow::pageShown);
    QVERIFY(window->ShowRow(0, 0, false));
    QVERIFY(shown.wait(15000));
    shoot("cover");
    QVERIFY(ShowAndWait(*window, 0));
    shoot("first_subject");

    SearchQuery query;
    query.words[0] = "moons";
    query.from_beginning = true;
    window->StartSearch(query);
    QVERIFY(shown.wait(15000));
    shoot("search_hit");

    QTreeWidget* tree = window->categoryTree();
    QTreeWidgetItem* type = nullptr;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
      if (tree->topLevelItem(i)->text(0) == "Type") type = tree->topLevelItem(i);
    }
    QVERIFY(type);
    type->setExpanded(true);
    int planet = -1;
    for (int i = 0; i < type->childCount(); ++i) {
      if (type->child(i)->text(0) == "planet") planet = i;
    }
    QVERIFY(planet >= 0);
    tree->setCurrentItem(type->child(planet));
    QVERIFY(window->ApplyCategoryValue(type->data(0, Qt::UserRole + 1).toUInt(),
                                       static_cast<uint32_t>(planet)));
    QVERIFY(shown.wait(15000));
    QVERIFY(window->document()->HasResults());
    shoot("filtered_list");

    window->findChild<QAction*>("dark_theme")->setChecked(true);
    QVERIFY(ShowAndWait(*window, window->document()->Results()[4]));  // Neptune, with its picture
    shoot("dark_theme");
    // Every tool button is reachable and named for assistive tools.
    for (int id : {kCmdFileOpen, kCmdBack, kCmdForward, kCmdSearch, kCmdSearchBackwards,
                   kCmdSearchForwards, kCmdHighlights, kCmdAddBookmark, kCmdLeftPane, kCmdTree,
                   kCmdDragMode, kCmdCatalogue, kCmdLocalLibrary}) {
      auto* button = window->findChild<QToolButton*>(QString::number(id));
      QVERIFY2(button, qPrintable(QString::number(id)));
      QVERIFY(!button->accessibleName().isEmpty());
      QVERIFY(button->focusPolicy() & Qt::TabFocus);
    }
    // The page's pictures came through the scheme.
    QCOMPARE(window->pageView()
                 ->Evaluate("Array.from(document.images).filter(function(i){"
                            "return i.complete && i.naturalWidth > 0;}).length")
                 .toInt(),
             1);
    window->findChild<QAction*>("dark_theme")->setChecked(false);

    // Two conditions joined with AND, chosen in the book's drop-down lists.
    CategoryFilters* filters = window->categoryFilters();
    filters->findChild<QToolButton*>("filter_mode_new")->click();
    QComboBox* type_list = filters->dropDown(1);
    Q_EMIT type_list->activated(type_list->findText("moon"));
    filters->findChild<QToolButton*>("filter_mode_and")->click();
    QComboBox* orbits_list = filters->dropDown(2);
    orbits_list->setFocus();
    Q_EMIT orbits_list->activated(orbits_list->findText("Jupiter"));
    QVERIFY(filters->summary()->text().startsWith("Type = moon AND Orbits = Jupiter: "));
    QVERIFY(shown.wait(15000));
    shoot("filtered_and");

    // The pictures' temporary files go with the window.
    const std::vector<std::string> files = window->pictureFiles().paths();
    QVERIFY(!files.empty());
    QVERIFY(QFile::exists(QString::fromStdString(files.front())));
    window.reset();
    for (const std::string& file : files) QVERIFY(!QFile::exists(QString::fromStdString(file)));
  }
};

}  // namespace fvx::reader::app

// --send-hand-over PID8 PATH HEADING: acts as the compiler, handing the book
// to every reader window; the exit code is 1 when one took it, else 2.
static int SendHandOver(int argc, char** argv) {
  if (argc < 5) return 3;
  QCoreApplication app(argc, argv);
  std::string data = argv[2];
  data.push_back('\0');
  data += argv[3];
  data.push_back('\0');
  data += argv[4];
  data.push_back('\0');
  for (const auto& peer : fvx::ui::FindWindows(fvx::reader::app::kReaderWindowClass)) {
    const auto reply = fvx::ui::SendCopyData(peer, fvx::reader::app::kHandOverDataId,
                                             QByteArray::fromStdString(data), 10000);
    if (reply && *reply == 1) return 1;
  }
  return 2;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--send-hand-over") return SendHandOver(argc, argv);
  fvx::reader::app::InstallPageFontAlias();  // as the program does
  fvx::reader::app::RegisterPageSchemes();
  QApplication app(argc, argv);
  fvx::reader::app::MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
