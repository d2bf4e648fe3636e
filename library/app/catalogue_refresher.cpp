#include "library/app/catalogue_refresher.h"

#include "library/library_settings.h"
#include "platform/process.h"

namespace fvx::library {

CatalogueRefresher::CatalogueRefresher(platform::Registry& registry, QString data_home,
                                       QObject* parent)
    : QObject(parent) {
  updater_ = std::make_unique<CatalogueUpdater>(
      registry, data_home.toStdString(), CatalogueUrl(registry),
      [this] {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT catalogueReplaced(); }, Qt::QueuedConnection);
      },
      [this](const std::string& message) {
        QString text = QString::fromStdString(message);
        QMetaObject::invokeMethod(
            this, [this, text] { Q_EMIT refused(text); }, Qt::QueuedConnection);
      });
}

CatalogueRefresher::~CatalogueRefresher() {
  updater_->Stop();
}

void CatalogueRefresher::Start(bool another_reader_runs) {
  updater_->Start(another_reader_runs);
}

QString CatalogueRefresher::CataloguePath() const {
  return QString::fromStdString(updater_->CataloguePath());
}

bool CatalogueRefresher::StartDownloader() {
  return platform::StartDetached("FvxDownloader", {});
}

}  // namespace fvx::library
