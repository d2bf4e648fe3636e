#include "reader/app/bookmark_editor.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "reader/app/book_text.h"
#include "reader/app/reader_messages.h"
#include "reader/document.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::reader::app {

BookmarkEditor::BookmarkEditor(Document* document, const QByteArray& charset, QWidget* parent)
    : QDialog(parent), document_(document), charset_(charset) {
  setWindowTitle(ReaderString(kMsgEditBookmarks));
  setObjectName("bookmark_editor");
  list_ = new QListWidget(this);
  list_->setObjectName("bookmark_list");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setAccessibleName(tr("Bookmarks"));
  auto* rename = new QPushButton(tr("&Rename..."), this);
  rename->setObjectName("rename");
  auto* remove = new QPushButton(tr("&Delete"), this);
  remove->setObjectName("delete");
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::accept);
  connect(remove, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(rename, &QPushButton::clicked, this, [this] {
    QListWidgetItem* item = list_->currentItem();
    if (!item) return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, ReaderString(kMsgEditBookmarks), tr("Name:"),
                                               QLineEdit::Normal, item->text(), &ok);
    if (ok && !name.isEmpty()) RenameCurrent(name);
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(rename);
  buttons->addWidget(remove);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  Fill();
}

void BookmarkEditor::Fill() {
  list_->clear();
  for (uint32_t k = 0; k < document_->BookmarkCount(); ++k) {
    list_->addItem(DecodeBookText(document_->BookmarkName(k), charset_));
  }
}

bool BookmarkEditor::DeleteSelected() {
  std::vector<uint32_t> chosen;
  for (QListWidgetItem* item : list_->selectedItems()) {
    chosen.push_back(static_cast<uint32_t>(list_->row(item)));
  }
  if (chosen.empty()) return false;
  if (ReaderMessageBox(this, kMsgDeleteBookmark, 36) != ui::kIdYes) return false;
  // From the last, so the numbers of those still to go stay valid.
  std::sort(chosen.rbegin(), chosen.rend());
  bool all = true;
  for (uint32_t k : chosen) all = document_->DeleteBookmark(k) && all;
  Fill();
  return all;
}

bool BookmarkEditor::RenameCurrent(const QString& name) {
  const int row = list_->currentRow();
  if (row < 0) return false;
  if (ReaderMessageBox(this, kMsgRenameBookmark, 36) != ui::kIdYes) return false;
  const QByteArray bytes = EncodeBookText(name, charset_);
  const bool ok = document_->RenameBookmark(static_cast<uint32_t>(row),
                                            std::string_view(bytes.constData(), bytes.size()));
  Fill();
  list_->setCurrentRow(row);
  return ok;
}

}  // namespace fvx::reader::app
