#include "reader/app/library_mode.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "library/app/library_window.h"
#include "library/library_settings.h"
#include "library/local_list.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "reader/app/book_text.h"
#include "reader/app/main_window.h"
#include "reader/app_link.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {
namespace {

constexpr char kLocalListPlaceholder[] = "<fvxhomelocaldata>";

}  // namespace

LibraryStartUp::LibraryStartUp(platform::Registry& registry, const QString& data_home)
    : lock_(data_home.toStdString()), refresher_(registry, data_home) {}

void LibraryStartUp::Start() {
  refresher_.Start(!lock_.IsFirst());
}

LibraryMode::LibraryMode(platform::Registry& registry, MainWindow* window)
    : QObject(window), registry_(registry), window_(window) {}

QString LibraryMode::CataloguePath() const {
  return QString::fromStdString(platform::JoinPath(platform::DataHome(), library::kCatalogueFile));
}

bool LibraryMode::IsCatalogue(const QString& path) const {
  if (opening_) return true;
  const QString catalogue = QFileInfo(CataloguePath()).canonicalFilePath();
  return !catalogue.isEmpty() && QFileInfo(path).canonicalFilePath() == catalogue;
}

bool LibraryMode::OpenCatalogue() {
  opening_ = true;
  const bool opened = window_->OpenBook(CataloguePath());
  opening_ = false;
  return opened;
}

void LibraryMode::AttachRefresher(library::CatalogueRefresher* refresher) {
  connect(refresher, &library::CatalogueRefresher::catalogueReplaced, this,
          &LibraryMode::OnCatalogueReplaced);
  connect(refresher, &library::CatalogueRefresher::refused, this, [this](const QString& message) {
    ui::AppMessageBox(window_, message, ui::kMbIconExclamation);
  });
}

void LibraryMode::OnCatalogueReplaced() {
  const bool ok = library::IsReadableBook(CataloguePath().toStdString());
  if (QAction* catalogue = window_->action(kCmdCatalogue)) catalogue->setEnabled(ok);
  // The user's own book stays on show; a window still waiting for its
  // catalogue, or showing the old one, gets the new one.
  if (ok && !window_->searchRunning() &&
      (window_->inLibraryMode() || window_->document() == nullptr)) {
    OpenCatalogue();
  }
  Q_EMIT catalogueChecked(ok);
}

std::string LibraryMode::PreparePage(std::string html, bool library_mode,
                                     const QByteArray& charset) const {
  if (!library_mode) return html;
  // The list's titles come from the registry as UTF-8; the page is in the
  // book's own character set.
  if (html.find(kLocalListPlaceholder) != std::string::npos) {
    const QByteArray list =
        EncodeBookText(QString::fromStdString(library::BuildLocalListHtml(registry_)), charset);
    const std::string local(list.constData(), static_cast<size_t>(list.size()));
    for (size_t at = html.find(kLocalListPlaceholder); at != std::string::npos;
         at = html.find(kLocalListPlaceholder, at + local.size())) {
      html.replace(at, sizeof(kLocalListPlaceholder) - 1, local);
    }
  }
  return library::PrepareCatalogueHomePage(std::move(html), registry_);
}

void LibraryMode::FollowLink(const AppLink& link, bool library_mode, const QString& record_title) {
  const library::LinkAction action =
      library::HandleCatalogueLink(registry_, link, library_mode, record_title.toStdString(),
                                   library::MakerUrl(registry_), library::LibraryFolder());
  using Kind = library::LinkAction::Kind;
  switch (action.kind) {
    case Kind::kNothing:
      break;
    case Kind::kOpenDocument:
      window_->OpenBook(QString::fromStdString(action.target));
      break;
    case Kind::kStartDownloader: {
      const bool started =
          start_downloader ? start_downloader() : library::CatalogueRefresher::StartDownloader();
      if (!started) {
        ui::AppMessageBox(window_,
                          tr("<h3>Cannot start FvxDownloader</h3>The book waits in the download "
                             "list and is fetched the next time FvxDownloader runs."),
                          ui::kMbIconExclamation);
      }
      Q_EMIT downloadQueued(QString::fromStdString(action.target), started);
      break;
    }
    case Kind::kOpenExternal: {
      if (action.target.empty()) break;
      const QUrl url =
          QUrl::fromEncoded(QByteArray::fromStdString(action.target), QUrl::TolerantMode);
      if (window_->open_external) {
        window_->open_external(url);
      } else {
        QDesktopServices::openUrl(url);
      }
      break;
    }
    case Kind::kRefused:
      ui::AppMessageBox(window_, QString::fromStdString(action.message), ui::kMbIconExclamation);
      break;
  }
}

bool LibraryMode::OpenLocalLibrary() {
  library::LibraryWindow dialog(registry_, window_);
  dialog.SetConfirm([&dialog](const QString& message) {
    return ui::AppMessageBox(&dialog, message, ui::kMbOkCancel | ui::kMbIconExclamation) ==
           ui::kIdOk;
  });
  if (on_library_window) {
    on_library_window(&dialog);
  } else {
    dialog.exec();
  }
  const QString path = dialog.SelectedPath();
  return !path.isEmpty() && window_->OpenBook(path);
}

}  // namespace fvx::reader::app
