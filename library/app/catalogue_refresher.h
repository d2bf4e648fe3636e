// The reader's catalogue refresh on the Qt side: runs the catalogue start-up
// and turns the engine's worker-thread completion into a queued signal (the
// reader's message 1114), and starts the downloader when a link queued a book.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "library/catalogue.h"

namespace fvx::library {

class CatalogueRefresher : public QObject {
  Q_OBJECT

 public:
  // REQUIRES: registry outlives the refresher.
  CatalogueRefresher(platform::Registry& registry, QString data_home, QObject* parent = nullptr);
  ~CatalogueRefresher() override;

  // Start-up steps 1 to 7; another_reader_runs as the single-instance check found.
  void Start(bool another_reader_runs);
  QString CataloguePath() const;
  CatalogueUpdater& updater() { return *updater_; }

  // Starts "FvxDownloader" beside this program; false when it cannot be started.
  static bool StartDownloader();

 Q_SIGNALS:
  // On the owner's thread, after a new catalogue was put in place.
  void catalogueReplaced();
  // A refresh that was refused (an HTML message for the user).
  void refused(const QString& message);

 private:
  std::unique_ptr<CatalogueUpdater> updater_;
};

}  // namespace fvx::library
