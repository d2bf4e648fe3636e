// Folivox3's main window: the category tree, heading box and subject list
// on the left, the page view on the right, tool buttons and menus whose
// object names are their command ids. A thin layer over one BookDocument.
//
// Every navigation ends in ShowRow; every open in OpenBook. Hooks let tests
// stand in for the desktop (outside links, starting the compiler) and for
// dialogs (the bookmark name).
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "reader/app/page_view.h"
#include "reader/document.h"
#include "reader/picture_files.h"
#include "reader/reading_state.h"

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QProgressBar;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace fvx::platform {
class Registry;
}
namespace fvx::ui {
struct CopyData;
class WindowChannel;
}  // namespace fvx::ui

namespace fvx::reader {
class BookDocument;
}

namespace fvx::reader::app {

class LibraryMode;
class RecentFiles;
class SubjectListModel;

// Command ids (the menus' and tool buttons' object names).
enum CommandId : int {
  kCmdFileOpen = 57601,
  kCmdMruFirst = 57616,
  kCmdEditCopy = 57634,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdManual = 32771,
  kCmdTransferPalm = 32775,
  kCmdTransferPpc = 32776,
  kCmdEditBookmarks = 32785,
  kCmdImport = 32806,
  kCmdBookmarkFirst = 33000,
  kCmdBookmarkLast = 33049,
  kCmdCatalogue = 105,
  kCmdBack = 107,
  kCmdForward = 108,
  kCmdSearch = 109,
  kCmdSearchBackwards = 110,
  kCmdSearchForwards = 111,
  kCmdHighlights = 113,
  kCmdAddBookmark = 114,
  kCmdLeftPane = 117,
  kCmdTree = 121,
  kCmdDragMode = 160,
  kCmdLocalLibrary = 164,
};
inline constexpr int kMaxBookmarkMenuEntries = 50;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // registry: null for the process-wide one.
  explicit MainWindow(platform::Registry* registry = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // What the program does once its window is up: the book named on the
  // command line, else the manual on the first start and the net library
  // catalogue afterwards.
  void StartUp(const QStringList& arguments);
  // Opens a book from any source (command line, dialog, drop, recent files,
  // hand-over). True when it is the open book afterwards.
  bool OpenBook(const QString& path);
  // Listens for the compiler's hand-over.
  bool ListenForHandOver();
  uint32_t OnHandOver(const ui::CopyData& data);

  // Shows a row of the subject list; restore scrolls to a saved position.
  bool ShowRow(uint32_t row, uint32_t jump, bool highlight,
               std::optional<ScrollState> restore = std::nullopt);
  bool ShowSubject(uint32_t subject, uint32_t jump, bool highlight,
                   std::optional<ScrollState> restore = std::nullopt);
  void OnLinkClicked(const QByteArray& raw_link);

  void StartSearch(const SearchQuery& query);  // 109 after the dialog
  void ContinueSearch(SearchDirection direction);  // 110, 111
  void CancelSearch();
  bool searchRunning() const { return search_running_; }

  void HeadingBoxEdited(const QString& text);
  void AddBookmarkAtTop();
  bool GoToBookmark(uint32_t k);
  void Back();
  void Forward();
  void ToggleTree();  // 121
  bool ApplyCategoryValue(uint32_t list_row, uint32_t value);
  void SaveReadingState();

  QAction* action(int id) const;
  Document* document() const;
  PageView* pageView() const { return page_view_; }
  SubjectListModel* subjectModel() const { return model_; }
  QListView* subjectList() const { return list_; }
  QLineEdit* headingBox() const { return heading_box_; }
  QTreeWidget* categoryTree() const { return tree_; }
  QMenu* bookmarksMenu() const { return bookmarks_menu_; }
  QProgressBar* progressBar() const { return progress_; }
  const QByteArray& charset() const { return charset_; }
  std::optional<uint32_t> currentRow() const { return current_row_; }
  std::optional<uint32_t> currentSubject() const { return current_subject_; }
  const History& history() const { return history_; }
  bool headingLookupHit() const { return lookup_hit_; }
  const SearchQuery& lastQuery() const { return query_; }
  const PictureFiles& pictureFiles() const { return picture_files_; }
  // Library mode: the net catalogue on show (command 105).
  LibraryMode* libraryMode() const { return library_; }
  bool inLibraryMode() const { return catalogue_; }

  // Hooks (null: the desktop's own behaviour).
  std::function<void(const QUrl&)> open_external;
  std::function<bool(const QStringList& arguments)> start_compiler;
  std::function<std::optional<QString>(const QString& default_name)> ask_bookmark_name;
  std::function<std::optional<SearchQuery>(const SearchQuery& last)> ask_search_query;
  std::function<QString(const QString& filters)> ask_open_path;

 Q_SIGNALS:
  void bookOpened(const QString& path);
  void pageShown();
  void searchFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 public:
  // Dropped files: the first ".fvx" or ".fv" among them is opened.
  bool OpenDropped(const QList<QUrl>& urls);

 private:
  void StepThroughHistory(bool forward);  // Back() and Forward()
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreatePanes();
  QAction* AddCommand(int id, const QString& text, const QIcon& icon = {},
                      const QKeySequence& shortcut = {}, bool checkable = false);
  bool ShowPage(std::optional<uint32_t> row, std::optional<uint32_t> subject, uint32_t jump,
                bool highlight, std::optional<ScrollState> restore);
  void RunSearchLoop(SearchDirection direction);
  void RefreshAfterResultsChange();
  void RefreshCategoryTree();
  void FillTreeItem(QTreeWidgetItem* item);
  void RebuildBookmarksMenu();
  void RebuildRecentMenu();
  void RebuildHistoryMenu();
  void UpdateNavigationButtons();
  void UpdateTitle();
  void OpenFileDialog();
  void OpenManual();
  void OpenCatalogue();
  bool StartCompiler(const QStringList& arguments);
  void OpenExternal(const QUrl& url);
  void ApplyZoom(double factor);
  void ShowFindBar();
  void ExportPdf();
  void PrintPage();
  void GoToHistoryEntry(size_t index);

  platform::Registry* registry_;
  std::unique_ptr<BookDocument> document_;
  std::unique_ptr<RecentFiles> recent_;
  PictureFiles picture_files_;
  LastPageStore last_pages_;
  History history_;
  uint32_t history_serial_ = 0;
  QByteArray charset_;
  bool catalogue_ = false;
  std::optional<uint32_t> current_row_;
  std::optional<uint32_t> current_subject_;
  bool highlight_ = false;
  bool search_running_ = false;
  bool lookup_hit_ = false;
  SearchQuery query_;

  std::map<int, QAction*> actions_;
  QToolBar* tool_bar_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QMenu* bookmarks_menu_ = nullptr;
  QMenu* history_menu_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QWidget* left_pane_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QLineEdit* heading_box_ = nullptr;
  QLabel* lookup_icon_ = nullptr;
  QListView* list_ = nullptr;
  SubjectListModel* model_ = nullptr;
  PageView* page_view_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLineEdit* find_box_ = nullptr;
  QTimer* show_timer_ = nullptr;
  ui::WindowChannel* channel_ = nullptr;
  LibraryMode* library_ = nullptr;
};

// The book path from the command line: the first argument that is not a
// flag, exactly as given. "-x" is a flag; "/x" is one only when no such file
// exists and it has no further "/" (so absolute paths stay paths).
QString BookPathFromArguments(const QStringList& arguments, bool* no_logo = nullptr);

}  // namespace fvx::reader::app
