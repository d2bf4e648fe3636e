#include "downloader/downloader_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "downloader/download_list.h"
#include "library/library_settings.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::downloader {
namespace {

constexpr char kNoReadyMessageValue[] = "NoDownloadReadyMsg";

int DownloaderMessageBox(QWidget* owner, platform::Registry& registry, const QString& text,
                         uint32_t style) {
  ui::MessageBoxParams params;
  params.owner = owner;
  params.caption = QStringLiteral("FvxDownloader");
  params.text = text;
  params.style = style | ui::kMbEnglishCaptions;
  params.registry = &registry;
  return ui::PPMessageBox(params);
}

}  // namespace

ReadyMessage::ReadyMessage(platform::Registry& registry, QWidget* parent)
    : QDialog(parent), registry_(registry) {
  setObjectName("ReadyMessage");
  setWindowTitle(tr("Downloads Ready"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(
      tr("<h3>Downloads Ready</h3>The books can be opened from the toolbar (My Fvx Files).<br>"
         "Newly downloaded books stand at the top of the list."),
      this);
  layout->addWidget(text);
  dont_show_ = new QCheckBox(tr("Don't show this again"), this);
  dont_show_->setObjectName("104");
  layout->addWidget(dont_show_);
  auto* done = new QPushButton(tr("Done"), this);
  done->setObjectName("1");
  layout->addWidget(done, 0, Qt::AlignRight);
  connect(done, &QPushButton::clicked, this, &QDialog::accept);
}

void ReadyMessage::done(int result) {
  if (dont_show_->isChecked()) {
    registry_.WriteDword(platform::RegistryRoot::kLocalMachine, library::BaseKey(),
                         kNoReadyMessageValue, 1);
  }
  QDialog::done(result);
}

DownloaderWindow::DownloaderWindow(platform::Registry& registry, std::string library_folder,
                                   QWidget* parent)
    : QDialog(parent), registry_(registry), queue_(registry, manager_, std::move(library_folder)) {
  setObjectName("Folivox3DownloaderLite");
  setWindowTitle(tr("Download Fvx Files..."));
  resize(460, 300);

  active_model_ = new DownloadListModel(
      [this](int row) {
        DownloadRow result;
        result.heading =
            QString::fromStdString(manager_.GetActiveHeading(static_cast<size_t>(row)));
        double total = manager_.GetActiveTotal(static_cast<size_t>(row));
        double received = manager_.GetActiveReceived(static_cast<size_t>(row));
        result.percent = total > 0 ? static_cast<int>(received * 100 / total) : 100;
        return result;
      },
      this);
  pending_model_ = new DownloadListModel(
      [this](int row) {
        return DownloadRow{
            QString::fromStdString(manager_.GetPendingHeading(static_cast<size_t>(row))), -1};
      },
      this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("<b>Downloading</b>"), this));
  active_ = new DownloadListView(this);
  active_->setObjectName("101");
  active_->setModel(active_model_);
  layout->addWidget(active_);
  layout->addWidget(new QLabel(tr("<b>Pending</b>"), this));
  pending_ = new DownloadListView(this);
  pending_->setObjectName("103");
  pending_->setModel(pending_model_);
  layout->addWidget(pending_);
  auto* done = new QPushButton(tr("Done"), this);
  done->setObjectName("2");
  layout->addWidget(done, 0, Qt::AlignRight);
  connect(done, &QPushButton::clicked, this, &DownloaderWindow::reject);

  auto* about = new QAction(tr("&About FvxDownloader..."), this);
  about->setObjectName("16");
  connect(about, &QAction::triggered, this, [this] {
    DownloaderMessageBox(this, registry_, tr("<h3>FvxDownloader</h3>Version 1.0"),
                         ui::kMbIconInformation);
  });
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  // Worker threads only post: the lists are touched on this thread alone.
  queue_.SetQueueChangedHandler([this](bool structural) {
    // Progress comes many times a second per transfer: one repaint pending at a time.
    if (!structural && repaint_pending_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this, [this, structural] { OnQueueChanged(structural); }, Qt::QueuedConnection);
  });
  manager_.SetListener(&queue_);
  queue_.ReadAndQueue();
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &DownloaderWindow::Tick);
  timer_.start();
  manager_.Start(false);
  manager_.Wake();
  // Refused entries are told once the window is up.
  QMetaObject::invokeMethod(this, &DownloaderWindow::ShowMessages, Qt::QueuedConnection);
}

DownloaderWindow::~DownloaderWindow() {
  timer_.stop();
  manager_.Stop();
}

QString DownloaderWindow::Messages() const {
  return shown_messages_;
}

void DownloaderWindow::OnQueueChanged(bool structural) {
  if (structural) {
    active_model_->SetCount(static_cast<int>(manager_.GetActiveCount()));
    pending_model_->SetCount(static_cast<int>(manager_.GetPendingCount()));
    ShowMessages();
  } else {
    repaint_pending_ = false;
    active_model_->Refresh();
    pending_model_->Refresh();
  }
}

void DownloaderWindow::ShowMessages() {
  // The box runs its own event loop: a call from within it leaves the new
  // messages to the loop below.
  if (showing_messages_) return;
  showing_messages_ = true;
  for (std::vector<std::string> batch = queue_.TakeMessages(); !batch.empty();
       batch = queue_.TakeMessages()) {
    for (const std::string& message : batch) {
      const QString text = QString::fromStdString(message);
      if (!shown_messages_.isEmpty()) shown_messages_ += "<hr>";
      shown_messages_ += text;
      DownloaderMessageBox(this, registry_, text, ui::kMbIconExclamation);
    }
  }
  showing_messages_ = false;
}

void DownloaderWindow::Tick() {
  if (ending_ || showing_messages_ || manager_.GetActiveCount() != 0 ||
      manager_.GetPendingCount() != 0) {
    return;
  }
  queue_.ReadAndQueue();
  ShowMessages();
  if (manager_.GetActiveCount() != 0 || manager_.GetPendingCount() != 0) return;
  timer_.stop();
  ending_ = true;
  if (registry_.ReadDword(platform::RegistryRoot::kLocalMachine, library::BaseKey(),
                          kNoReadyMessageValue) != 1) {
    ReadyMessage ready(registry_, this);
    ready.exec();
  }
  manager_.Stop();
  Q_EMIT finished();
  accept();
}

void DownloaderWindow::reject() {
  timer_.stop();
  ending_ = true;
  manager_.Stop();
  Q_EMIT finished();
  QDialog::reject();
}

void DownloaderWindow::closeEvent(QCloseEvent* event) {
  timer_.stop();
  manager_.Stop();
  QDialog::closeEvent(event);
}

}  // namespace fvx::downloader
