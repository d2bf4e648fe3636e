#include "reader/app/transfer_ppc_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "library/folder_device_link.h"
#include "library/handheld_settings.h"
#include "library/transfer_messages.h"
#include "reader/app/reader_messages.h"
#include "reader/app/transfer_skin.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {

TransferPpcDialog::TransferPpcDialog(const QString& book_path,
                                     std::unique_ptr<library::DeviceLink> device, QWidget* parent,
                                     std::chrono::milliseconds connect_wait)
    : QDialog(parent),
      book_path_(book_path.toStdString()),
      device_(std::move(device)),
      link_(std::make_unique<library::PocketPcLink>(*device_, connect_wait)) {
  setObjectName("TransferPpcDialog");
  setWindowTitle(ReaderString(library::kMsgTransferToPpcCaption));
  SkinTransferWindow(this, tr("Pocket PC"));

  progress_ = new QProgressBar(this);
  progress_->setObjectName("169");
  progress_->setGeometry(37, 50, 268 - 37, 72 - 50);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(true);
  progress_->setFormat(QString());
  progress_->setAlignment(Qt::AlignCenter);

  card_box_ = new QCheckBox(tr("Place On Expansion Card"), this);
  card_box_->setObjectName("166");
  card_box_->move(33, 93);

  transfer_ = new QPushButton(tr("Transfer"), this);
  transfer_->setObjectName("168");
  transfer_->setGeometry(129, 143, kTransferButtonWidth, kTransferButtonHeight);
  transfer_->setDefault(true);
  done_ = new QPushButton(tr("Done"), this);
  done_->setObjectName("2");
  done_->setGeometry(219, 143, kTransferButtonWidth, kTransferButtonHeight);
  connect(transfer_, &QPushButton::clicked, this, &TransferPpcDialog::Transfer);
  connect(done_, &QPushButton::clicked, this, &TransferPpcDialog::reject);

  // Percentages come from the copying thread; each is shown once, in order.
  link_->SetProgressListener([this](int percentage) {
    QMetaObject::invokeMethod(
        this,
        [this, percentage] {
          ShowProgressText(tr("Transferring %1%...").arg(percentage));
          progress_->setValue(percentage);
        },
        Qt::QueuedConnection);
  });
}

TransferPpcDialog::~TransferPpcDialog() {
  if (worker_.joinable()) {
    link_->Cancel();
    worker_.join();
  }
}

void TransferPpcDialog::ShowProgressText(const QString& text) {
  progress_->setFormat(text);
}

void TransferPpcDialog::Run(std::function<void()> job) {
  if (worker_.joinable()) worker_.join();  // it has posted its result: done
  worker_ = std::thread(std::move(job));
}

void TransferPpcDialog::Transfer() {
  if (running_) {
    cancelled_ = true;
    link_->Cancel();
    return;
  }
  running_ = true;
  cancelled_ = false;
  transfer_->setEnabled(false);
  if (!card_box_->isChecked()) {
    StartCopy({});
    return;
  }
  ShowProgressText(tr("Requesting storage card info..."));
  Run([this] {
    std::vector<std::string> cards;
    bool ok = link_->ListStorageCards(&cards);
    QMetaObject::invokeMethod(
        this, [this, ok, cards] { CardsListed(ok, cards); }, Qt::QueuedConnection);
  });
}

void TransferPpcDialog::CardsListed(bool ok, const std::vector<std::string>& cards) {
  if (cancelled_) {
    // The user stopped the transfer: it does not go on into main memory.
    Copied(false);
    return;
  }
  if (!ok || cards.empty()) {
    ReaderMessageBox(this, library::kMsgCardDetailsFailed, ui::kMbIconError);
    StartCopy({});
    return;
  }
  StartCopy(cards.front());
}

void TransferPpcDialog::StartCopy(const std::string& card) {
  ShowProgressText(tr("Connecting with PPC..."));
  Run([this, card] {
    bool ok = link_->CopyFile(book_path_, card, true, nullptr);
    QMetaObject::invokeMethod(
        this, [this, ok] { Copied(ok); }, Qt::QueuedConnection);
  });
}

void TransferPpcDialog::Copied(bool ok) {
  if (worker_.joinable()) worker_.join();
  ReaderMessageBox(this, ok ? library::kMsgPpcDone : library::kMsgPpcFailed,
                   ok ? ui::kMbIconInformation : ui::kMbIconError);
  ShowProgressText(QString());
  progress_->setValue(0);
  transfer_->setEnabled(true);
  running_ = false;
  Q_EMIT transferFinished(ok);
}

void TransferPpcDialog::reject() {
  if (running_) {
    cancelled_ = true;
    link_->Cancel();
    return;
  }
  QDialog::reject();
}

void ShowTransferToPpc(QWidget* parent, const QString& book_path, platform::Registry& registry) {
  TransferPpcDialog dialog(
      book_path, std::make_unique<library::FolderDeviceLink>(library::DeviceFolder(registry)),
      parent);
  dialog.exec();
}

}  // namespace fvx::reader::app
