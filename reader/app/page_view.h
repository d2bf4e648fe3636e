// The page view: a web view that shows one page at a time, written as the
// exact bytes the renderer built, in the book's character set.
//
// Pages, their temporary picture files and the template's cursor files all
// come through the "fvxapp" scheme (the cursors also through "res", which
// the page template names), served from memory and the program's resources.
// RegisterPageSchemes() must run before the QApplication exists.
//
// The web engine takes about a second to start. Until it has shown its
// first page, pages appear in a light text view (links inert there), and
// the engine starts only once that view has been drawn, so the window comes
// up with its first page at once.
//
// Link clicks never navigate: a script reports the link's attribute text as
// written in the page, and linkClicked() hands it over unchanged, so "<",
// ">" and "%" escapes of an "fvxapp://<a:b:c>text" link reach the engine as
// the book stored them. Outside links go to externalLinkClicked().
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <set>

class QStackedLayout;
class QTextBrowser;
class QWebEngineView;
class QWebEngineProfile;

namespace fvx::reader::app {

class PageSchemeHandler;
class PageWebPage;

void RegisterPageSchemes();

struct ScrollState {
  uint32_t offset = 0;  // vertical scroll position, pixels
  uint32_t height = 0;  // total scroll height, pixels
};

class PageView : public QWidget {
  Q_OBJECT

 public:
  explicit PageView(QWidget* parent = nullptr);
  ~PageView() override;

  // Writes a page. anchor: scrolled to once shown (empty: the top); a
  // restore scrolls to offset x current height / saved height instead.
  void ShowPage(const QByteArray& html, const QByteArray& charset, const QString& anchor,
                std::optional<ScrollState> restore = std::nullopt);
  // Files the page may show (temporary pictures); others are refused.
  void AllowFile(const QString& path);

  void SetHighlightVisible(bool visible);
  // The last scroll state the page reported (0, 0 before any page).
  ScrollState scrollState() const;
  void ScrollTo(uint32_t offset);
  // Visible characters from the body start up to the top of the view.
  void VisibleTopCount(std::function<void(uint32_t)> done);
  bool hasSelection() const;
  void CopySelection();
  QString selectedText() const;
  void SetDragMode(bool on);
  void SetDarkTheme(bool on);
  bool darkTheme() const { return dark_; }
  void SetZoom(double factor);
  double zoom() const;
  void FindText(const QString& text, bool backwards);
  bool PrintToPdf(const QString& path);
  // Runs a script in the page's world and waits for its result (tests).
  QVariant Evaluate(const QString& script, int timeout_ms = 5000);
  // Whether the last page finished loading.
  bool isLoaded() const { return loaded_; }
  // The web view (started now when it was not yet).
  QWebEngineView* webView();
  // Whether pages are still shown by the light text view.
  bool showingPlaceholder() const;
  const QByteArray& pageBytes() const;

 Q_SIGNALS:
  void linkClicked(const QByteArray& raw_link);
  void externalLinkClicked(const QUrl& url);
  void pageShown();
  // A page was drawn, by the text view or by the web view.
  void pageDrawn();
  void selectionChanged();

 private:
  void OnLoadFinished(bool ok);
  void InstallScripts();
  void StartWebEngine();
  void ShowInPlaceholder();
  bool eventFilter(QObject* watched, QEvent* event) override;

  QWebEngineProfile* profile_ = nullptr;
  PageSchemeHandler* handler_ = nullptr;
  PageWebPage* page_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QStackedLayout* stack_ = nullptr;
  QTextBrowser* placeholder_ = nullptr;
  bool placeholder_drawn_ = false;
  double zoom_ = 1.0;
  QString anchor_;
  std::optional<ScrollState> restore_;
  ScrollState scroll_;
  bool loaded_ = false;
  bool pending_ = false;  // a page was written and has not finished loading
  bool dark_ = false;
  bool drag_ = false;
  bool highlight_visible_ = true;
  int serial_ = 0;
};

}  // namespace fvx::reader::app
