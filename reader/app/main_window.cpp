#include "reader/app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWebEngineView>

#include "library/catalogue.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "reader/app/book_text.h"
#include "reader/app/category_filters.h"
#include "reader/app/bookmark_editor.h"
#include "reader/app/hand_over.h"
#include "reader/app/library_mode.h"
#include "reader/app/reader_messages.h"
#include "reader/app/recent_files.h"
#include "reader/app/transfer_palm_dialog.h"
#include "reader/app/transfer_ppc_dialog.h"
#include "reader/app/search_dialog.h"
#include "reader/app/subject_list_model.h"
#include "reader/app/word_index_starter.h"
#include "reader/app_link.h"
#include "reader/book_document.h"
#include "ui/ipc/window_channel.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {
namespace {

constexpr int kStepsPerRound = 5;
constexpr int kProgressDelayMs = 600;
constexpr int kCoverFlag = 1;  // a history entry of a cover row: subject holds the row
constexpr char kManualName[] = "FVXWindowsManual.fvx";

QString Extension(const QString& path) {
  const QString name = path.mid(static_cast<int>(platform::LastPathSeparator(path.toStdString()) + 1));
  const int dot = name.lastIndexOf('.');
  return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

std::string_view View(const QByteArray& bytes) {
  return std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

QString BookPathFromArguments(const QStringList& arguments, bool* no_logo) {
  QString path;
  for (const QString& argument : arguments) {
    const bool dash_flag = argument.startsWith('-');
    const bool slash_flag = argument.startsWith('/') && argument.indexOf('/', 1) < 0 &&
                            !QFileInfo::exists(argument);
    if (dash_flag || slash_flag) {
      const QString name = argument.mid(1).toLower();
      if (no_logo && (name == "nologo" || name == "embedding" || name == "automation")) {
        *no_logo = true;
      }
      continue;
    }
    if (path.isEmpty()) path = argument;
  }
  return path;
}

MainWindow::MainWindow(platform::Registry* registry, QWidget* parent)
    : QMainWindow(parent),
      registry_(registry ? registry : &platform::Registry::Default()),
      recent_(std::make_unique<RecentFiles>(registry_)),
      last_pages_(registry_) {
  setObjectName("QuillstoneFolivox3Lite");
  setWindowTitle("Folivox3");
  setAcceptDrops(true);
  word_index_ = new WordIndexStarter(this);
  library_ = new LibraryMode(*registry_, this);
  CreatePanes();
  CreateActions();
  CreateMenus();
  CreateToolBar();
  recent_->Load();
  RebuildRecentMenu();
  RebuildBookmarksMenu();
  UpdateNavigationButtons();
  resize(1100, 720);
}

MainWindow::~MainWindow() {
  word_index_->BookOpened(nullptr);
  // The list model and the page view point at the document: let them go first.
  model_->SetDocument(nullptr, {});
}

Document* MainWindow::document() const { return document_.get(); }

QAction* MainWindow::action(int id) const {
  auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

QAction* MainWindow::AddCommand(int id, const QString& text, const QIcon& icon,
                                const QKeySequence& shortcut, bool checkable) {
  auto* act = new QAction(icon, text, this);
  act->setObjectName(QString::number(id));
  act->setCheckable(checkable);
  if (!shortcut.isEmpty()) act->setShortcut(shortcut);
  actions_[id] = act;
  return act;
}

void MainWindow::CreatePanes() {
  left_pane_ = new QWidget(this);
  left_pane_->setObjectName("left_pane");
  tree_ = new QTreeWidget(left_pane_);
  tree_->setObjectName("category_tree");
  tree_->setHeaderHidden(true);
  tree_->setAccessibleName(tr("Categories and filters"));
  filters_ = new CategoryFilters(tree_, left_pane_);
  connect(filters_, &CategoryFilters::valueChosen, this, &MainWindow::ApplyCategoryValue);
  connect(filters_, &CategoryFilters::dropDownChosen, this, &MainWindow::ApplyDropDownValue);
  connect(filters_, &CategoryFilters::clearRequested, this, &MainWindow::ClearFilter);

  heading_box_ = new QLineEdit(left_pane_);
  heading_box_->setObjectName("102");
  heading_box_->setAccessibleName(tr("Heading"));
  heading_box_->setPlaceholderText(tr("Type a heading"));
  heading_box_->setClearButtonEnabled(true);
  lookup_icon_ = new QLabel(left_pane_);
  lookup_icon_->setObjectName("lookup_picture");
  connect(heading_box_, &QLineEdit::textEdited, this, &MainWindow::HeadingBoxEdited);
  connect(heading_box_, &QLineEdit::returnPressed, this, [this] {
    const QModelIndex index = list_->currentIndex();
    if (index.isValid()) ShowRow(static_cast<uint32_t>(index.row()), 0, false);
  });

  model_ = new SubjectListModel(this);
  list_ = new QListView(left_pane_);
  list_->setObjectName("subject_list");
  list_->setModel(model_);
  list_->setUniformItemSizes(true);  // the view then never asks every row
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setAccessibleName(tr("Subjects"));
  show_timer_ = new QTimer(this);
  show_timer_->setSingleShot(true);
  show_timer_->setInterval(120);
  connect(show_timer_, &QTimer::timeout, this, [this] {
    const QModelIndex index = list_->currentIndex();
    if (index.isValid() && current_row_ != uint32_t(index.row())) {
      ShowRow(static_cast<uint32_t>(index.row()), 0, false);
    }
  });
  connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex&) { show_timer_->start(); });
  connect(list_, &QListView::activated, this, [this](const QModelIndex& index) {
    ShowRow(static_cast<uint32_t>(index.row()), 0, false);
  });

  auto* box_row = new QHBoxLayout;
  box_row->setContentsMargins(0, 0, 0, 0);
  box_row->addWidget(heading_box_);
  box_row->addWidget(lookup_icon_);
  auto* left_split = new QSplitter(Qt::Vertical, left_pane_);
  left_split->addWidget(tree_);
  auto* lower = new QWidget(left_split);
  auto* lower_layout = new QVBoxLayout(lower);
  lower_layout->setContentsMargins(0, 0, 0, 0);
  lower_layout->addLayout(box_row);
  lower_layout->addWidget(list_);
  left_split->addWidget(lower);
  left_split->setStretchFactor(1, 3);
  auto* left_layout = new QVBoxLayout(left_pane_);
  left_layout->setContentsMargins(2, 2, 2, 2);
  left_layout->addWidget(filters_);
  left_layout->addWidget(left_split);

  page_view_ = new PageView(this);
  connect(page_view_, &PageView::linkClicked, this, &MainWindow::OnLinkClicked);
  connect(page_view_, &PageView::externalLinkClicked, this, &MainWindow::OpenExternal);
  connect(page_view_, &PageView::pageShown, this, &MainWindow::pageShown);
  connect(page_view_, &PageView::selectionChanged, this, [this] {
    action(kCmdEditCopy)->setEnabled(page_view_->hasSelection());
  });

  find_box_ = new QLineEdit(this);
  find_box_->setObjectName("find_in_page");
  find_box_->setAccessibleName(tr("Find in page"));
  find_box_->setPlaceholderText(tr("Find in page (Enter: next, Shift+Enter: previous, Esc: close)"));
  find_box_->hide();
  connect(find_box_, &QLineEdit::textChanged, this,
          [this](const QString& text) { page_view_->FindText(text, false); });
  auto* close_find = new QShortcut(QKeySequence(Qt::Key_Escape), find_box_);
  connect(close_find, &QShortcut::activated, this, [this] {
    find_box_->hide();
    page_view_->FindText(QString(), false);
  });
  connect(find_box_, &QLineEdit::returnPressed, this, [this] {
    page_view_->FindText(find_box_->text(),
                         QApplication::keyboardModifiers() & Qt::ShiftModifier);
  });
  auto* right = new QWidget(this);
  auto* right_layout = new QVBoxLayout(right);
  right_layout->setContentsMargins(0, 0, 0, 0);
  right_layout->addWidget(page_view_);
  right_layout->addWidget(find_box_);

  splitter_ = new QSplitter(this);
  splitter_->addWidget(left_pane_);
  splitter_->addWidget(right);
  splitter_->setStretchFactor(1, 3);
  splitter_->setSizes({300, 800});
  setCentralWidget(splitter_);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("search_progress");
  progress_->setRange(0, 100);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
}

void MainWindow::CreateActions() {
  QStyle* s = style();
  connect(AddCommand(kCmdFileOpen, tr("&Open..."), s->standardIcon(QStyle::SP_DialogOpenButton),
                     QKeySequence::Open),
          &QAction::triggered, this, &MainWindow::OpenFileDialog);
  // Handheld transfers of the open book (nothing without one).
  connect(AddCommand(kCmdTransferPalm, tr("Transfer To Palm")), &QAction::triggered, this, [this] {
    if (!document_) return;
    ShowTransferToPalm(this, QString::fromStdString(document_->FilePath()), *registry_);
  });
  connect(AddCommand(kCmdTransferPpc, tr("Transfer To PPC")), &QAction::triggered, this, [this] {
    if (!document_) return;
    ShowTransferToPpc(this, QString::fromStdString(document_->FilePath()), *registry_);
  });
  connect(AddCommand(kCmdImport, tr("Import")), &QAction::triggered, this,
          [this] { StartCompiler({}); });
  connect(AddCommand(kCmdExit, tr("E&xit"), {}, QKeySequence::Quit), &QAction::triggered, this,
          &QWidget::close);
  connect(AddCommand(kCmdEditCopy, tr("Copy"), {}, QKeySequence::Copy), &QAction::triggered, this,
          [this] {
            if (page_view_->hasSelection()) {
              page_view_->CopySelection();
            } else {
              QApplication::beep();
            }
          });
  action(kCmdEditCopy)->setEnabled(false);
  connect(AddCommand(kCmdEditBookmarks, tr("Edit Bookmarks")), &QAction::triggered, this, [this] {
    if (!document_) return;
    BookmarkEditor editor(document_.get(), charset_, this);
    editor.exec();
    RebuildBookmarksMenu();
  });
  connect(AddCommand(kCmdManual, tr("Manual")), &QAction::triggered, this, &MainWindow::OpenManual);
  connect(AddCommand(kCmdAbout, tr("&About Folivox3...")), &QAction::triggered, this, [this] {
    ui::AppMessageBox(this,
                      tr("<h3>Folivox3</h3><br>Reads reference books compiled with FvxC.<br>"
                         "Version %1")
                          .arg(QCoreApplication::applicationVersion()),
                      ui::kMbIconInformation);
  });
  connect(AddCommand(kCmdCatalogue, tr("Net Library"), s->standardIcon(QStyle::SP_DriveNetIcon),
                     QKeySequence(Qt::CTRL | Qt::Key_L)),
          &QAction::triggered, this, &MainWindow::OpenCatalogue);
  connect(AddCommand(kCmdBack, tr("Back"), s->standardIcon(QStyle::SP_ArrowBack),
                     QKeySequence(Qt::ALT | Qt::Key_Left)),
          &QAction::triggered, this, &MainWindow::Back);
  connect(AddCommand(kCmdForward, tr("Forward"), s->standardIcon(QStyle::SP_ArrowForward),
                     QKeySequence(Qt::ALT | Qt::Key_Right)),
          &QAction::triggered, this, &MainWindow::Forward);
  connect(AddCommand(kCmdSearch, tr("Search..."), s->standardIcon(QStyle::SP_FileDialogContentsView),
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)),
          &QAction::triggered, this, [this] {
            if (search_running_) return CancelSearch();
            if (!document_) return;
            std::optional<SearchQuery> query;
            if (ask_search_query) {
              query = ask_search_query(query_);
            } else {
              SearchDialog dialog(query_, this);
              if (dialog.exec() == QDialog::Accepted) query = dialog.query();
            }
            if (query) StartSearch(*query);
          });
  connect(AddCommand(kCmdSearchBackwards, tr("Search Backwards"),
                     s->standardIcon(QStyle::SP_ArrowUp), QKeySequence(Qt::SHIFT | Qt::Key_F3)),
          &QAction::triggered, this, [this] {
            if (search_running_) return CancelSearch();
            ContinueSearch(SearchDirection::kBackwards);
          });
  connect(AddCommand(kCmdSearchForwards, tr("Search Forwards"), s->standardIcon(QStyle::SP_ArrowDown),
                     QKeySequence(Qt::Key_F3)),
          &QAction::triggered, this, [this] {
            if (search_running_) return CancelSearch();
            ContinueSearch(SearchDirection::kForwards);
          });
  connect(AddCommand(kCmdHighlights, tr("Search Highlights"),
                     s->standardIcon(QStyle::SP_DialogYesButton), {}, true),
          &QAction::toggled, this, [this](bool on) { page_view_->SetHighlightVisible(on); });
  connect(AddCommand(kCmdAddBookmark, tr("Add Bookmark"), s->standardIcon(QStyle::SP_DialogSaveButton),
                     QKeySequence(Qt::CTRL | Qt::Key_D)),
          &QAction::triggered, this, &MainWindow::AddBookmarkAtTop);
  connect(AddCommand(kCmdLeftPane, tr("Show Left Pane"), s->standardIcon(QStyle::SP_FileDialogListView),
                     {}, true),
          &QAction::toggled, this, [this](bool on) { left_pane_->setVisible(on); });
  action(kCmdLeftPane)->setChecked(true);
  connect(AddCommand(kCmdTree, tr("All Subjects / Tree"), s->standardIcon(QStyle::SP_DirHomeIcon)),
          &QAction::triggered, this, &MainWindow::ToggleTree);
  connect(AddCommand(kCmdDragMode, tr("Drag Page"), s->standardIcon(QStyle::SP_TitleBarShadeButton),
                     {}, true),
          &QAction::toggled, this, [this](bool on) { page_view_->SetDragMode(on); });
  connect(AddCommand(kCmdLocalLibrary, tr("Local Library"), s->standardIcon(QStyle::SP_DirIcon)),
          &QAction::triggered, library_, &LibraryMode::OpenLocalLibrary);
}

void MainWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(action(kCmdFileOpen));
  file->addAction(action(kCmdTransferPalm));
  file->addAction(action(kCmdTransferPpc));
  file->addAction(action(kCmdImport));
  auto* pdf = new QAction(tr("Export Page to &PDF..."), this);
  pdf->setObjectName("export_pdf");
  connect(pdf, &QAction::triggered, this, &MainWindow::ExportPdf);
  auto* print = new QAction(tr("&Print..."), this);
  print->setObjectName("print");
  print->setShortcut(QKeySequence::Print);
  connect(print, &QAction::triggered, this, &MainWindow::PrintPage);
  file->addAction(pdf);
  file->addAction(print);
  recent_menu_ = file->addMenu(tr("Recent Files"));
  recent_menu_->setObjectName("recent_files");
  file->addSeparator();
  file->addAction(action(kCmdExit));

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  edit->addAction(action(kCmdEditCopy));
  auto* find = new QAction(tr("&Find in Page"), this);
  find->setObjectName("find_in_page_command");
  find->setShortcut(QKeySequence::Find);
  connect(find, &QAction::triggered, this, &MainWindow::ShowFindBar);
  edit->addAction(find);
  auto* heading = new QAction(tr("Go to &Heading Box"), this);
  heading->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));  // Ctrl+L is the net library
  connect(heading, &QAction::triggered, this, [this] {
    heading_box_->setFocus();
    heading_box_->selectAll();
  });
  edit->addAction(heading);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  view->addAction(action(kCmdBack));
  view->addAction(action(kCmdForward));
  history_menu_ = view->addMenu(tr("&History"));
  history_menu_->setObjectName("history");
  connect(history_menu_, &QMenu::aboutToShow, this, &MainWindow::RebuildHistoryMenu);
  view->addSeparator();
  auto* dark = new QAction(tr("&Dark Pages"), this);
  dark->setObjectName("dark_theme");
  dark->setCheckable(true);
  dark->setChecked(palette().color(QPalette::Window).lightness() < 128);
  page_view_->SetDarkTheme(dark->isChecked());
  connect(dark, &QAction::toggled, page_view_, &PageView::SetDarkTheme);
  view->addAction(dark);
  auto* zoom_in = new QAction(tr("Zoom &In"), this);
  zoom_in->setObjectName("zoom_in");
  zoom_in->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
  connect(zoom_in, &QAction::triggered, this, [this] { ApplyZoom(page_view_->zoom() + 0.1); });
  auto* zoom_out = new QAction(tr("Zoom &Out"), this);
  zoom_out->setObjectName("zoom_out");
  zoom_out->setShortcut(QKeySequence::ZoomOut);
  connect(zoom_out, &QAction::triggered, this, [this] { ApplyZoom(page_view_->zoom() - 0.1); });
  auto* zoom_reset = new QAction(tr("&Actual Size"), this);
  zoom_reset->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  connect(zoom_reset, &QAction::triggered, this, [this] { ApplyZoom(1.0); });
  view->addAction(zoom_in);
  view->addAction(zoom_out);
  view->addAction(zoom_reset);
  view->addSeparator();
  view->addAction(action(kCmdLeftPane));
  view->addAction(action(kCmdDragMode));
  view->addAction(action(kCmdHighlights));

  QMenu* search = menuBar()->addMenu(tr("&Search"));
  search->addAction(action(kCmdSearch));
  search->addAction(action(kCmdSearchForwards));
  search->addAction(action(kCmdSearchBackwards));
  search->addAction(action(kCmdTree));

  bookmarks_menu_ = menuBar()->addMenu(tr("&Bookmarks"));
  bookmarks_menu_->setObjectName("bookmarks");

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(action(kCmdManual));
  help->addAction(action(kCmdAbout));
}

void MainWindow::CreateToolBar() {
  tool_bar_ = addToolBar(tr("Tools"));
  tool_bar_->setObjectName("tool_bar");
  for (int id : {kCmdFileOpen, kCmdCatalogue, kCmdLocalLibrary, kCmdBack, kCmdForward, kCmdSearch,
                 kCmdSearchBackwards, kCmdSearchForwards, kCmdHighlights, kCmdAddBookmark,
                 kCmdLeftPane, kCmdTree, kCmdDragMode}) {
    QAction* act = action(id);
    tool_bar_->addAction(act);
    if (QWidget* button = tool_bar_->widgetForAction(act)) {
      button->setObjectName(QString::number(id));
      button->setAccessibleName(act->text());
      button->setFocusPolicy(Qt::TabFocus);
    }
  }
}

// ---------------------------------------------------------------- opening

void MainWindow::StartUp(const QStringList& arguments) {
  const QString path = BookPathFromArguments(arguments);
  if (!path.isEmpty()) {
    OpenBook(path);
    return;
  }
  action(library::FirstStartCommand(*registry_))->trigger();
}

bool MainWindow::OpenBook(const QString& path) {
  if (search_running_) {
    ReaderMessageBox(this, kMsgSearchInProgress, ui::kMbIconExclamation,
                     kMsgSearchInProgressCaption);
    return false;
  }
  const QString extension = Extension(path);
  if (extension.isEmpty() && !path.contains('.')) return false;
  if (extension == QLatin1String("fv")) {
    if (ReaderMessageBox(this, kMsgConversionRequired, 52) == ui::kIdYes) StartCompiler({path});
    return false;
  }
  auto opened = std::make_unique<BookDocument>();
  OpenCode code = OpenCode::kOk;
  if (!opened->Open(path.toStdString(), &code)) return false;

  SaveReadingState();
  if (search_running_) CancelSearch();
  model_->SetDocument(nullptr, {});
  document_ = std::move(opened);
  charset_ = BookCharset(*document_);
  catalogue_ = library_->IsCatalogue(path);
  current_row_.reset();
  current_subject_.reset();
  history_ = History();
  query_ = SearchQuery();
  model_->SetDocument(document_.get(), charset_);
  UpdateTitle();
  RefreshCategoryTree();
  RebuildBookmarksMenu();
  heading_box_->clear();
  lookup_icon_->clear();

  const std::string id = document_->BookId();
  last_pages_.RecordOpen(id, path.toStdString());
  const uint32_t zoom = registry_->ReadDword(platform::RegistryRoot::kCurrentUser,
                                             FileInfoKey(id), "Zoom");
  page_view_->SetZoom(zoom >= 25 && zoom <= 500 ? zoom / 100.0 : 1.0);
  const std::optional<SavedPage> saved = last_pages_.Restore(id);
  bool shown = false;
  if (saved && saved->row < document_->ListRowCount()) {
    shown = ShowRow(saved->row, 0, false, ScrollState{saved->offset, saved->height});
  }
  if (!shown && document_->ListRowCount() > 0) ShowRow(0, 0, false);
  recent_->Add(path);
  RebuildRecentMenu();
  word_index_->BookOpened(document_.get());
  Q_EMIT bookOpened(path);
  return true;
}

void MainWindow::SaveReadingState() {
  if (!document_ || (!current_row_ && !current_subject_)) return;
  // A page without a row of its own is saved as its row in the full list.
  const uint32_t row = current_row_ ? *current_row_
                                    : *current_subject_ + (document_->HasFrontCover() ? 1 : 0);
  const ScrollState scroll = page_view_->scrollState();
  last_pages_.Save(document_->BookId(), SavedPage{row, scroll.offset, scroll.height});
}

void MainWindow::UpdateTitle() {
  if (!document_) {
    setWindowTitle("Folivox3");
    return;
  }
  if (catalogue_) {
    setWindowTitle("[Net Library] - Folivox3");
    return;
  }
  setWindowTitle(QFileInfo(QString::fromStdString(document_->FilePath())).completeBaseName() +
                 " - Folivox3");
}

void MainWindow::OpenFileDialog() {
  const QString filters = tr("Fvx Files( *.fvx ) (*.fvx);;Fvw Files( *.fv ) (*.fv)");
  const QString path = ask_open_path ? ask_open_path(filters)
                                     : QFileDialog::getOpenFileName(this, tr("Open"), QString(), filters);
  if (!path.isEmpty()) OpenBook(path);
}

void MainWindow::OpenManual() {
  OpenBook(QString::fromStdString(platform::JoinPath(platform::ShareDirectory(), kManualName)));
}

void MainWindow::OpenCatalogue() {
  library_->OpenCatalogue();
}

bool MainWindow::StartCompiler(const QStringList& arguments) {
  QStringList full{QStringLiteral("/insid:%1").arg(QString::fromStdString(
      PidText(QCoreApplication::applicationPid())))};
  full += arguments;
  if (start_compiler) return start_compiler(full);
  std::vector<std::string> args;
  for (const QString& a : full) args.push_back(a.toStdString());
  return platform::StartDetached("FvxC", args);
}

void MainWindow::OpenExternal(const QUrl& url) {
  if (open_external) {
    open_external(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

bool MainWindow::OpenDropped(const QList<QUrl>& urls) {
  activateWindow();
  for (const QUrl& url : urls) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.toString();
    const QString extension = Extension(path);
    if (extension == QLatin1String("fvx") || extension == QLatin1String("fv")) {
      return OpenBook(path);
    }
  }
  return false;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  OpenDropped(event->mimeData()->urls());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (search_running_) CancelSearch();
  SaveReadingState();
  event->accept();
}

bool MainWindow::ListenForHandOver() {
  if (!channel_) {
    channel_ = new ui::WindowChannel(kReaderWindowClass, this);
    channel_->SetHandler([this](const ui::CopyData& data) { return OnHandOver(data); });
  }
  return channel_->Listen();
}

uint32_t MainWindow::OnHandOver(const ui::CopyData& data) {
  const std::optional<HandOver> hand_over =
      ParseHandOver(data.data_id, View(data.bytes), QCoreApplication::applicationPid(),
                    data.sender_pid);
  if (!hand_over) return 0;
  if (!OpenBook(QString::fromStdString(hand_over->path))) return 0;
  if (!hand_over->heading.empty()) {
    if (std::optional<uint32_t> row = document_->HeadingLookup(hand_over->heading)) {
      ShowRow(*row, 0, false);
    }
  }
  showNormal();
  raise();
  activateWindow();
  return 1;
}

// ---------------------------------------------------------------- pages

bool MainWindow::ShowRow(uint32_t row, uint32_t jump, bool highlight,
                         std::optional<ScrollState> restore) {
  if (!document_ || row >= document_->ListRowCount()) return false;
  return ShowPage(row, document_->SubjectOfRow(row), jump, highlight, restore);
}

bool MainWindow::ShowSubject(uint32_t subject, uint32_t jump, bool highlight,
                             std::optional<ScrollState> restore) {
  if (!document_ || subject >= document_->SubjectCount()) return false;
  // A subject outside the list on show (a tree node above its children)
  // is shown without a row.
  return ShowPage(document_->RowOfSubject(subject), subject, jump, highlight, restore);
}

bool MainWindow::ShowPage(std::optional<uint32_t> row, std::optional<uint32_t> subject,
                          uint32_t jump, bool highlight, std::optional<ScrollState> restore) {
  if (current_row_ || current_subject_) {
    const ScrollState scroll = page_view_->scrollState();
    history_.UpdateScroll(history_serial_, current_subject_.value_or(current_row_.value_or(0)),
                          scroll.offset, scroll.height);
  }
  std::string html;
  PictureMap pictures(&picture_files_);
  const bool rendered =
      row ? document_->RenderPage(*row, jump, jump, 0, highlight, &pictures, &html)
          : document_->RenderSubjectPage(*subject, jump, jump, 0, highlight, &pictures, &html);
  if (!rendered) return false;
  html = library_->PreparePage(std::move(html), catalogue_, charset_);
  document_->WritePictures(pictures);
  for (const auto& [picture, path] : pictures.entries()) {
    page_view_->AllowFile(QString::fromStdString(path));
  }
  current_row_ = row;
  current_subject_ = subject;
  highlight_ = highlight;
  {
    const QSignalBlocker blocker(list_->selectionModel());
    if (row) {
      const QModelIndex index = model_->index(static_cast<int>(*row));
      list_->setCurrentIndex(index);
      list_->scrollTo(index);
    } else {
      list_->clearSelection();
    }
  }
  QString anchor;
  if (highlight && !document_->Hits().empty()) {
    anchor = QStringLiteral("findloc");
  } else if (jump > 0) {
    anchor = QStringLiteral("FvxAutoJumpAnchor_%1").arg(jump);
  }
  {
    const QSignalBlocker blocker(action(kCmdHighlights));
    action(kCmdHighlights)->setChecked(highlight);
  }
  const QString title = DecodeBookText(
      subject ? document_->Heading(*subject) : document_->RowTitle(*row), charset_);
  history_serial_ = subject ? history_.Add(title.toStdString(), *subject, 0, 0, 0)
                            : history_.Add(title.toStdString(), *row, 0, 0, kCoverFlag);
  page_view_->ShowPage(QByteArray(html.c_str()), charset_, anchor, restore);
  UpdateNavigationButtons();
  return true;
}

void MainWindow::OnLinkClicked(const QByteArray& raw_link) {
  if (!document_) return;
  // The script reports Unicode text; the engine reads the book's own bytes.
  const QByteArray bytes = EncodeBookText(QString::fromUtf8(raw_link), charset_);
  const std::optional<AppLink> link = ParseAppLink(View(bytes));
  if (!link) return;
  switch (static_cast<LinkKind>(link->a)) {
    case LinkKind::kShowSubject:
      ShowSubject(link->b, link->c, false);
      break;
    case LinkKind::kOpenExternal:
    case LinkKind::kCatalogueBook: {
      // A queued book is filed under the heading of the record on show.
      QString title;
      if (current_subject_) {
        title = DecodeBookText(document_->Heading(*current_subject_), charset_);
      } else if (current_row_) {
        title = DecodeBookText(document_->RowTitle(*current_row_), charset_);
      }
      library_->FollowLink(*link, catalogue_, title);
      break;
    }
    case LinkKind::kFilter: {
      document_->ClearResults();
      if (std::optional<std::string> expression = HexDecode(link->text)) {
        if (!document_->RunFilterExpression(*expression)) document_->ClearResults();
      }
      RefreshAfterResultsChange();
      if (document_->ListRowCount() > 0) ShowRow(0, 0, false);
      break;
    }
    case LinkKind::kTreeChildren:
      if (document_->IsTreeMode() && document_->GoToChildrenOfSubject(link->b)) {
        RefreshAfterResultsChange();
        ShowSubject(link->b, 0, false);
      }
      break;
    default:
      break;
  }
}

void MainWindow::RefreshAfterResultsChange() {
  model_->Reset();
  filters_->ShowActiveFilter();
  if (current_subject_) {
    if (std::optional<uint32_t> row = document_->RowOfSubject(*current_subject_)) {
      const QSignalBlocker blocker(list_->selectionModel());
      current_row_ = row;
      list_->setCurrentIndex(model_->index(static_cast<int>(*row)));
    }
  }
}

void MainWindow::Back() { StepThroughHistory(false); }

void MainWindow::Forward() { StepThroughHistory(true); }

void MainWindow::StepThroughHistory(bool forward) {
  if (forward ? !history_.CanGoForward() : !history_.CanGoBack()) return;
  // The page being left keeps its scroll position for when it comes back.
  const ScrollState scroll = page_view_->scrollState();
  history_.UpdateScroll(history_serial_, current_subject_.value_or(current_row_.value_or(0)),
                        scroll.offset, scroll.height);
  if (std::optional<HistoryEntry> entry = forward ? history_.Forward() : history_.Back()) {
    history_serial_ = entry->serial;
    const ScrollState restore{entry->offset, entry->height};
    if (entry->flag == kCoverFlag) {
      ShowRow(entry->subject, 0, false, restore);
    } else {
      ShowSubject(entry->subject, 0, false, restore);
    }
  }
  UpdateNavigationButtons();
}

void MainWindow::GoToHistoryEntry(size_t index) {
  while (history_.cursor() > index && history_.CanGoBack()) Back();
  while (history_.cursor() < index && history_.CanGoForward()) Forward();
}

void MainWindow::UpdateNavigationButtons() {
  action(kCmdBack)->setEnabled(history_.CanGoBack());
  action(kCmdForward)->setEnabled(history_.CanGoForward());
}

void MainWindow::RebuildHistoryMenu() {
  history_menu_->clear();
  for (size_t i = history_.size(); i-- > 0;) {
    const HistoryEntry& entry = history_.entry(i);
    QAction* act = history_menu_->addAction(QString::fromStdString(entry.title));
    act->setCheckable(true);
    act->setChecked(i == history_.cursor());
    connect(act, &QAction::triggered, this, [this, i] { GoToHistoryEntry(i); });
  }
  if (history_.size() == 0) history_menu_->addAction(tr("(no pages yet)"))->setEnabled(false);
}

// ---------------------------------------------------------------- heading box

void MainWindow::HeadingBoxEdited(const QString& text) {
  if (!document_) return;
  const QByteArray bytes = EncodeBookText(text, charset_);
  const std::optional<uint32_t> row = document_->HeadingLookup(View(bytes));
  lookup_hit_ = row.has_value();
  // Pictures 223 (a row found) and 232 (none).
  const QString picture = lookup_hit_ ? QStringLiteral(":/icons/lookup_found_%1.png")
                                      : QStringLiteral(":/icons/lookup_missing_%1.png");
  QIcon icon(picture.arg(16));
  icon.addFile(picture.arg(32));
  lookup_icon_->setPixmap(icon.pixmap(16, 16, QIcon::Normal));
  lookup_icon_->setToolTip(lookup_hit_ ? tr("Found") : tr("Not found"));
  if (!row) return;
  const QModelIndex index = model_->index(static_cast<int>(*row));
  list_->setCurrentIndex(index);  // the page follows after a short pause
  list_->scrollTo(index, QAbstractItemView::PositionAtTop);
}

// ---------------------------------------------------------------- search

void MainWindow::StartSearch(const SearchQuery& query) {
  if (!document_ || search_running_) return;
  query_ = query;
  const uint32_t start = query.from_beginning ? 0 : current_subject_.value_or(0);
  uint64_t candidates = 0;
  if (!document_->BeginSearch(query, start, &candidates) || candidates == 0) {
    ReaderMessageBox(this, kMsgNoSubjectsFound, ui::kMbIconInformation);
    return;
  }
  RunSearchLoop(SearchDirection::kForwards);
}

void MainWindow::ContinueSearch(SearchDirection direction) {
  if (!document_ || search_running_) return;
  if (query_.words[0].empty()) {
    action(kCmdSearch)->trigger();
    return;
  }
  document_->SetSearchPosition(current_subject_.value_or(0));
  const bool possible = direction == SearchDirection::kForwards ? document_->CanSearchForwards()
                                                                : document_->CanSearchBackwards();
  if (!possible) {
    ReaderMessageBox(this, kMsgSearchCompleted, ui::kMbIconInformation);
    return;
  }
  RunSearchLoop(direction);
}

void MainWindow::CancelSearch() { search_running_ = false; }

void MainWindow::RunSearchLoop(SearchDirection direction) {
  search_running_ = true;
  action(kCmdSearch)->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  action(kCmdSearch)->setToolTip(tr("Cancel the search"));
  progress_->setValue(0);
  progress_->hide();
  QElapsedTimer clock;
  clock.start();
  bool shown_progress = false;
  SearchStepResult result = SearchStepResult::kContinue;
  uint32_t found = 0;
  while (search_running_) {
    result = document_->SearchStep(direction, kStepsPerRound, &found);
    if (result != SearchStepResult::kContinue) break;
    if (!shown_progress && clock.elapsed() >= kProgressDelayMs) {
      progress_->show();
      shown_progress = true;
    }
    progress_->setValue(document_->SearchProgress());
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  const bool cancelled = !search_running_;
  search_running_ = false;
  progress_->hide();
  action(kCmdSearch)->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  action(kCmdSearch)->setToolTip(action(kCmdSearch)->text());
  if (cancelled) {
    document_->CancelSearch();
  } else if (query_.find_all) {
    document_->EndSearch();
    if (document_->HasResults()) {
      RefreshAfterResultsChange();
      ShowRow(0, 0, false);
    } else {
      ReaderMessageBox(this, kMsgSearchCompleted, ui::kMbIconInformation);
    }
  } else if (result == SearchStepResult::kFound) {
    ShowSubject(found, 0, true);
  } else {
    ReaderMessageBox(this, kMsgSearchCompleted, ui::kMbIconInformation);
  }
  Q_EMIT searchFinished();
}

// ---------------------------------------------------------------- categories

void MainWindow::RefreshCategoryTree() { filters_->SetDocument(document_.get(), charset_); }

bool MainWindow::ApplyCategoryValue(uint32_t list_row, uint32_t value) {
  if (!document_ || search_running_) return false;
  LeaveBrowsedTree();
  return FinishFilterChange(document_->ApplyListRow(list_row, value, filters_->mode()));
}

bool MainWindow::ApplyDropDownValue(uint32_t category, uint32_t value) {
  if (!document_ || search_running_) return false;
  LeaveBrowsedTree();
  return FinishFilterChange(
      document_->ApplyFilter(category, value, FilterOperator::kEqual, filters_->mode()));
}

void MainWindow::LeaveBrowsedTree() {
  // The tree's children list is a filter of its own: a chosen value starts
  // from all subjects instead of narrowing it.
  if (document_->IsTreeMode() && document_->IsTreeBrowsed()) document_->LeaveTree();
}

bool MainWindow::FinishFilterChange(bool applied) {
  RefreshAfterResultsChange();
  if (applied && document_->ListRowCount() > 0) ShowRow(0, 0, false);
  return applied;
}

void MainWindow::ClearFilter() {
  if (!document_ || search_running_) return;
  if (document_->IsTreeMode()) {
    document_->LeaveTree();
  } else {
    document_->ClearResults();
  }
  RefreshAfterResultsChange();
}

void MainWindow::ToggleTree() {
  if (!document_ || search_running_) return;
  if (document_->IsTreeMode()) {
    if (document_->IsTreeBrowsed()) {
      document_->LeaveTree();
    } else if (current_subject_) {
      if (!document_->GoToChildrenOfSubject(*current_subject_)) return;
    }
  } else {
    document_->ClearResults();
  }
  RefreshAfterResultsChange();
}

// ---------------------------------------------------------------- bookmarks

void MainWindow::AddBookmarkAtTop() {
  if (!document_ || !current_subject_) return;
  const uint32_t subject = *current_subject_;
  page_view_->VisibleTopCount([this, subject](uint32_t count) {
    if (!document_ || current_subject_ != subject) return;
    const uint32_t position = document_->PositionOfVisibleCount(subject, count).value_or(0);
    const QString heading = DecodeBookText(document_->Heading(subject), charset_);
    std::optional<QString> name;
    if (ask_bookmark_name) {
      name = ask_bookmark_name(heading);
    } else {
      bool ok = false;
      const QString text = QInputDialog::getText(this, ReaderString(kMsgAddBookmark), tr("Name:"),
                                                 QLineEdit::Normal, heading, &ok);
      if (ok) name = text;
    }
    if (!name || name->isEmpty()) return;
    const QByteArray bytes = EncodeBookText(*name, charset_);
    document_->AddBookmark(subject, position, View(bytes));
    RebuildBookmarksMenu();
  });
}

bool MainWindow::GoToBookmark(uint32_t k) {
  uint32_t subject = 0;
  uint32_t position = 0;
  if (!document_ || !document_->Bookmark(k, &subject, &position)) return false;
  return ShowSubject(subject, position, false);
}

void MainWindow::RebuildBookmarksMenu() {
  bookmarks_menu_->clear();
  bookmarks_menu_->addAction(action(kCmdEditBookmarks));
  action(kCmdEditBookmarks)->setEnabled(document_ && document_->HasSlotTable());
  action(kCmdAddBookmark)->setEnabled(document_ && document_->HasSlotTable());
  if (!document_) return;
  const uint32_t count = std::min<uint32_t>(document_->BookmarkCount(), kMaxBookmarkMenuEntries);
  if (count > 0) bookmarks_menu_->addSeparator();
  for (uint32_t k = 0; k < count; ++k) {
    QAction* act = bookmarks_menu_->addAction(DecodeBookText(document_->BookmarkName(k), charset_));
    act->setObjectName(QString::number(kCmdBookmarkFirst + k));
    connect(act, &QAction::triggered, this, [this, k] { GoToBookmark(k); });
  }
}

void MainWindow::RebuildRecentMenu() {
  recent_menu_->clear();
  int k = 0;
  for (const QString& path : recent_->paths()) {
    QAction* act = recent_menu_->addAction(QStringLiteral("&%1 %2").arg(k + 1).arg(path));
    act->setObjectName(QString::number(kCmdMruFirst + k));
    connect(act, &QAction::triggered, this, [this, path] { OpenBook(path); });
    ++k;
  }
  recent_menu_->setEnabled(k > 0);
}

// ---------------------------------------------------------------- extras

void MainWindow::ApplyZoom(double factor) {
  factor = std::clamp(factor, 0.25, 5.0);
  page_view_->SetZoom(factor);
  if (document_) {
    registry_->WriteDword(platform::RegistryRoot::kCurrentUser, FileInfoKey(document_->BookId()),
                          "Zoom", static_cast<uint32_t>(factor * 100 + 0.5));
  }
}

void MainWindow::ShowFindBar() {
  find_box_->show();
  find_box_->setFocus();
  find_box_->selectAll();
}

void MainWindow::ExportPdf() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Export Page to PDF"), QString(),
                                                    tr("PDF files (*.pdf)"));
  if (!path.isEmpty()) page_view_->PrintToPdf(path);
}

void MainWindow::PrintPage() {
  // The printer lives until the page has been printed into it.
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  QPrintDialog dialog(printer.get(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  connect(page_view_->webView(), &QWebEngineView::printFinished, this, [printer](bool) {},
          Qt::SingleShotConnection);
  page_view_->webView()->print(printer.get());
}

}  // namespace fvx::reader::app
