#include "reader/app/subject_list_model.h"

#include "reader/app/book_text.h"
#include "reader/document.h"

namespace fvx::reader::app {

void SubjectListModel::SetDocument(Document* document, const QByteArray& charset) {
  beginResetModel();
  document_ = document;
  charset_ = charset;
  rows_read_ = 0;
  endResetModel();
}

void SubjectListModel::Reset() {
  beginResetModel();
  rows_read_ = 0;
  endResetModel();
}

int SubjectListModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !document_ || !document_->IsOpen()) return 0;
  return static_cast<int>(std::min<uint32_t>(document_->ListRowCount(), INT32_MAX));
}

QVariant SubjectListModel::data(const QModelIndex& index, int role) const {
  if (!document_ || !index.isValid()) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole) {
    return {};
  }
  ++rows_read_;
  return DecodeBookText(document_->RowTitle(static_cast<uint32_t>(index.row())), charset_);
}

}  // namespace fvx::reader::app
