// The subject list as a virtual model: rows are asked of the document one
// at a time as the view paints them, so a book of any size opens at once
// and no step reads all headings. (The view must use uniform row heights.)
#pragma once

#include <QAbstractListModel>
#include <QByteArray>

namespace fvx::reader {
class Document;
}

namespace fvx::reader::app {

class SubjectListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit SubjectListModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

  // REQUIRES: document (when not null) outlives its use here; call Reset()
  // whenever its rows change (open, result lists, filters, the tree).
  void SetDocument(Document* document, const QByteArray& charset);
  void Reset();

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // How many rows were asked for since the last Reset (benchmarks check it).
  uint64_t rowsRead() const { return rows_read_; }

 private:
  Document* document_ = nullptr;
  QByteArray charset_;
  mutable uint64_t rows_read_ = 0;
};

}  // namespace fvx::reader::app
