// The reader window's side of the library: library mode (the net catalogue
// "Fvx_Lib.fvx" of the data home shown with the caption "[Net Library] -
// Folivox3"), its page replacements and links, the "My Fvx Files" window,
// and the reload when the background refresh put a new catalogue in place.
//
// LibraryStartUp is the application's part and runs before the main window
// exists: it takes the instance lock, puts a deferred catalogue in place,
// and in the first reader only starts the refresh and the library check.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "library/app/catalogue_refresher.h"
#include "library/catalogue.h"

namespace fvx::platform {
class Registry;
}
namespace fvx::reader {
struct AppLink;
}

namespace fvx::reader::app {

class MainWindow;

class LibraryStartUp {
 public:
  // REQUIRES: registry outlives this object. data_home holds the catalogue.
  LibraryStartUp(platform::Registry& registry, const QString& data_home);
  // The catalogue start-up; in a second reader only the deferred catalogue
  // is put in place.
  void Start();
  bool first() const { return lock_.IsFirst(); }
  library::CatalogueRefresher& refresher() { return refresher_; }

 private:
  library::ReaderInstanceLock lock_;
  library::CatalogueRefresher refresher_;
};

class LibraryMode : public QObject {
  Q_OBJECT

 public:
  // REQUIRES: registry and window outlive this object (the window owns it).
  LibraryMode(platform::Registry& registry, MainWindow* window);

  QString CataloguePath() const;
  // Command 105. True when the catalogue is the open book afterwards.
  bool OpenCatalogue();
  // Whether opening path enters library mode: through command 105, or the
  // data home's catalogue file by any other road (recent files, My Fvx
  // Files). Every other book leaves library mode.
  bool IsCatalogue(const QString& path) const;

  // Message 1114 comes from this refresher from now on.
  void AttachRefresher(library::CatalogueRefresher* refresher);
  // Message 1114: the catalogue button follows whether the new catalogue
  // opens; a window showing the catalogue (or nothing) shows the new one.
  void OnCatalogueReplaced();

  // A page of the book on display; in library mode with the home page's
  // replacements, the local list in the page's character set.
  std::string PreparePage(std::string html, bool library_mode, const QByteArray& charset) const;
  // Links of kind 4 and 100. record_title: the heading on display.
  void FollowLink(const AppLink& link, bool library_mode, const QString& record_title);

  // Command 164: "My Fvx Files"; the book chosen there is opened.
  bool OpenLocalLibrary();

  // Hooks (null: the desktop's own behaviour).
  std::function<bool()> start_downloader;
  // Runs the library window (modal); tests drive it instead.
  std::function<void(QWidget* library_window)> on_library_window;

 Q_SIGNALS:
  // After message 1114 was handled; ok: the new catalogue opens as a book.
  void catalogueChecked(bool ok);
  // A book link queued a download and the downloader was asked to start.
  void downloadQueued(const QString& address, bool downloader_started);

 private:
  platform::Registry& registry_;
  MainWindow* window_;
  bool opening_ = false;
};

}  // namespace fvx::reader::app
