// "Transfer to PPC": copies the open book to a Pocket PC, into "My
// Documents" of its main memory or of its first storage card. Control ids
// are the object names: progress bar and text 169, card check box 166,
// "Transfer" 168, "Done" 2.
//
// The listing and the copy run on a worker thread, one at a time, so the
// window stays responsive; "Transfer" or "Done" during either cancels it.
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/pocket_pc_link.h"

class QCheckBox;
class QProgressBar;
class QPushButton;

namespace fvx::platform {
class Registry;
}

namespace fvx::reader::app {

class TransferPpcDialog : public QDialog {
  Q_OBJECT

 public:
  TransferPpcDialog(const QString& book_path, std::unique_ptr<library::DeviceLink> device,
                    QWidget* parent = nullptr,
                    std::chrono::milliseconds connect_wait = library::PocketPcLink::kConnectWait);
  ~TransferPpcDialog() override;

  // The "Transfer" button: starts a transfer, or cancels the running one.
  void Transfer();
  bool isRunning() const { return running_; }

 Q_SIGNALS:
  void transferFinished(bool ok);

 protected:
  void reject() override;  // "Done", Escape and closing the window

 private:
  void Run(std::function<void()> job);
  void CardsListed(bool ok, const std::vector<std::string>& cards);
  void StartCopy(const std::string& card);
  void Copied(bool ok);
  void ShowProgressText(const QString& text);

  const std::string book_path_;
  std::unique_ptr<library::DeviceLink> device_;
  std::unique_ptr<library::PocketPcLink> link_;
  std::thread worker_;
  bool running_ = false;
  bool cancelled_ = false;

  QProgressBar* progress_ = nullptr;
  QCheckBox* card_box_ = nullptr;
  QPushButton* transfer_ = nullptr;
  QPushButton* done_ = nullptr;
};

// Command 32776: the window for the book at book_path, over the device
// folder configured in the registry.
void ShowTransferToPpc(QWidget* parent, const QString& book_path, platform::Registry& registry);

}  // namespace fvx::reader::app
