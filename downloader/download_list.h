// The downloader's two lists: a count-driven model (the window sets the row
// count when the engine's lists change, and rows read the engine when they
// are drawn) and a view that draws progress rows and "Empty".
#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QStyledItemDelegate>
#include <functional>

namespace fvx::downloader {

// A Windows COLORREF (0x00BBGGRR) as a colour.
QColor FromColorRef(unsigned value);

struct DownloadRow {
  QString heading;
  int percent = -1;  // -1: a plain row (the pending list)
};

class DownloadListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  static constexpr int kPercentRole = Qt::UserRole + 1;
  using RowSource = std::function<DownloadRow(int row)>;

  explicit DownloadListModel(RowSource source, QObject* parent = nullptr)
      : QAbstractListModel(parent), source_(std::move(source)) {}

  void SetCount(int count);
  // Every row may have changed (progress).
  void Refresh();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : count_;
  }
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  RowSource source_;
  int count_ = 0;
};

class DownloadRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class DownloadListView : public QListView {
 public:
  explicit DownloadListView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace fvx::downloader
