#include "reader/app/transfer_palm_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "library/folder_install_aide.h"
#include "library/handheld_settings.h"
#include "library/install_on_palm.h"
#include "library/transfer_messages.h"
#include "reader/app/reader_messages.h"
#include "reader/app/transfer_skin.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {

TransferPalmDialog::TransferPalmDialog(const QString& book_path,
                                       std::unique_ptr<library::PalmInstallAide> aide,
                                       QWidget* parent)
    : QDialog(parent), book_path_(book_path.toStdString()), aide_(std::move(aide)) {
  setObjectName("TransferPalmDialog");
  setWindowTitle(ReaderString(library::kMsgTransferToPalmCaption));
  SkinTransferWindow(this, tr("Palm"));

  auto* user_label = new QLabel(tr("User"), this);
  user_label->setGeometry(34, 31, 100, 16);
  users_ = new QComboBox(this);
  users_->setObjectName("165");
  users_->setGeometry(34, 48, 268 - 34, 24);
  user_label->setBuddy(users_);
  for (const std::string& name : library::HotSyncUserNames(*aide_)) {
    users_->addItem(QString::fromStdString(name));
  }
  users_->setCurrentIndex(users_->count() > 0 ? 0 : -1);

  card_box_ = new QCheckBox(tr("Place On Expansion Card"), this);
  card_box_->setObjectName("166");
  card_box_->move(33, 93);

  auto* transfer = new QPushButton(tr("Transfer"), this);
  transfer->setObjectName("167");
  transfer->setGeometry(129, 143, kTransferButtonWidth, kTransferButtonHeight);
  transfer->setDefault(true);
  auto* done = new QPushButton(tr("Done"), this);
  done->setObjectName("2");
  done->setGeometry(219, 143, kTransferButtonWidth, kTransferButtonHeight);
  connect(transfer, &QPushButton::clicked, this, [this] { Transfer(); });
  connect(done, &QPushButton::clicked, this, &QDialog::reject);
}

bool TransferPalmDialog::Transfer() {
  // With no HotSync user the name is empty and the aide decides.
  const bool ok = library::InstallOnPalm(*aide_, book_path_, users_->currentText().toStdString(),
                                         card_box_->isChecked());
  ReaderMessageBox(this, ok ? library::kMsgPalmScheduled : library::kMsgPalmFailed,
                   ok ? ui::kMbIconInformation : ui::kMbIconError);
  return ok;
}

void ShowTransferToPalm(QWidget* parent, const QString& book_path, platform::Registry& registry) {
  TransferPalmDialog dialog(
      book_path, std::make_unique<library::FolderInstallAide>(library::PalmUsersFolder(registry)),
      parent);
  dialog.exec();
}

}  // namespace fvx::reader::app
