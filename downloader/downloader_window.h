// The downloader's window: two lists (Downloading, Pending) over the
// engine, a one-second timer that reads the queue again whenever the engine
// is idle and ends the program, after the ready message, once nothing is
// left; and "Done", which stops the transfers (their partial files stay and
// are resumed next time).
#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <memory>

#include "library/download/download_manager.h"
#include "library/downloader_queue.h"
#include "platform/registry.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace fvx::downloader {

class DownloadListModel;
class DownloadListView;

// The check box 104 and the button 1 of the ready message.
class ReadyMessage : public QDialog {
  Q_OBJECT

 public:
  explicit ReadyMessage(platform::Registry& registry, QWidget* parent = nullptr);
  void done(int result) override;

 private:
  platform::Registry& registry_;
  QCheckBox* dont_show_ = nullptr;
};

class DownloaderWindow : public QDialog {
  Q_OBJECT

 public:
  // REQUIRES: registry outlives the window.
  DownloaderWindow(platform::Registry& registry, std::string library_folder,
                   QWidget* parent = nullptr);
  ~DownloaderWindow() override;

  library::DownloadManager& manager() { return manager_; }
  // The messages told so far (each through the message box), "<hr>" between.
  QString Messages() const;

 Q_SIGNALS:
  // Emitted when the list is done and the program is about to end.
  void finished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void OnQueueChanged(bool structural);
  void Tick();
  void ShowMessages();

  platform::Registry& registry_;
  library::DownloadManager manager_;
  library::DownloaderQueue queue_;
  DownloadListModel* active_model_ = nullptr;
  DownloadListModel* pending_model_ = nullptr;
  DownloadListView* active_ = nullptr;
  DownloadListView* pending_ = nullptr;
  QString shown_messages_;  // every message told so far
  bool showing_messages_ = false;
  QTimer timer_;
  bool ending_ = false;
  std::atomic<bool> repaint_pending_{false};
};

}  // namespace fvx::downloader
