#include "reader/app/word_index_starter.h"

#include <QTimer>

#include "reader/book_document.h"
#include "reader/word_index_build.h"

namespace fvx::reader::app {

WordIndexStarter::WordIndexStarter(QObject* parent) : QObject(parent) {
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &WordIndexStarter::StartIfMissing);
}

// The job cancels and joins its thread as it goes.
WordIndexStarter::~WordIndexStarter() = default;

void WordIndexStarter::SetStartDelay(int ms) {
  delay_ms_ = ms;
}

bool WordIndexStarter::building() const {
  return job_ && job_->Running();
}

void WordIndexStarter::BookOpened(BookDocument* document) {
  timer_->stop();
  job_.reset();  // a build for the book before is of no use now
  document_ = document;
  if (!document_ || delay_ms_ < 0) return;
  timer_->start(delay_ms_);
}

void WordIndexStarter::StartIfMissing() {
  if (!document_ || !document_->IsOpen()) return;
  const std::string id = document_->BookId();
  if (id.empty()) return;
  job_ = std::make_unique<WordIndexBuildJob>();
  job_->Start(
      document_->FilePath(),
      [this, id](WordIndexBuildStatus status) {
        // From the build's thread: the window's thread takes it from here (and
        // drops it when this object is gone).
        QMetaObject::invokeMethod(
            this, [this, status, id] { OnDone(static_cast<int>(status), id); },
            Qt::QueuedConnection);
      },
      /*unless_usable=*/true);
}

void WordIndexStarter::OnDone(int status, const std::string& book_id) {
  // The book had its index already: nothing was built, nothing to say.
  if (static_cast<WordIndexBuildStatus>(status) == WordIndexBuildStatus::kUpToDate) return;
  const bool built = static_cast<WordIndexBuildStatus>(status) == WordIndexBuildStatus::kBuilt;
  if (built && document_ && document_->IsOpen() && document_->BookId() == book_id) {
    document_->ReloadWordIndex();
  }
  Q_EMIT finished(built);
}

}  // namespace fvx::reader::app
