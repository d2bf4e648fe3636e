// "Transfer to Palm": queues the open book for a HotSync user's handheld or
// its expansion card. Control ids are the object names: user list 165, card
// check box 166, "Transfer" 167, "Done" 2. Queuing is a local file copy and
// runs on the window's thread.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>

#include "library/palm_install_aide.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace fvx::platform {
class Registry;
}

namespace fvx::reader::app {

class TransferPalmDialog : public QDialog {
  Q_OBJECT

 public:
  TransferPalmDialog(const QString& book_path, std::unique_ptr<library::PalmInstallAide> aide,
                     QWidget* parent = nullptr);

  // The "Transfer" button; true when the aide queued the book.
  bool Transfer();

 private:
  const std::string book_path_;
  std::unique_ptr<library::PalmInstallAide> aide_;
  QComboBox* users_ = nullptr;
  QCheckBox* card_box_ = nullptr;
};

// Command 32775: the window for the book at book_path, over the HotSync
// users folder configured in the registry.
void ShowTransferToPalm(QWidget* parent, const QString& book_path, platform::Registry& registry);

}  // namespace fvx::reader::app
