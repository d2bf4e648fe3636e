// Builds the local word index of the open book in the background when it
// has none, so later searches of that book answer from it. The build
// starts a little after the book opened (the first page comes first), runs
// in a thread of its own with its own copy of the book, and tells the
// document to look at the index again when it is done.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

class QTimer;

namespace fvx::reader {
class BookDocument;
class WordIndexBuildJob;
}  // namespace fvx::reader

namespace fvx::reader::app {

class WordIndexStarter : public QObject {
  Q_OBJECT

 public:
  explicit WordIndexStarter(QObject* parent = nullptr);
  ~WordIndexStarter() override;

  // A book was opened (null: closed). Cancels a build for the book before.
  // REQUIRES: document outlives the next BookOpened call or this object.
  void BookOpened(BookDocument* document);
  // Milliseconds between the open and the build (negative: never build).
  void SetStartDelay(int ms);
  bool building() const;

 Q_SIGNALS:
  // The build ended; built is true when the index is ready.
  void finished(bool built);

 private:
  void StartIfMissing();
  void OnDone(int status, const std::string& book_id);

  BookDocument* document_ = nullptr;
  std::unique_ptr<WordIndexBuildJob> job_;
  QTimer* timer_ = nullptr;
  int delay_ms_ = 3000;
};

}  // namespace fvx::reader::app
