#include "downloader/download_list.h"

#include <QPainter>

namespace fvx::downloader {

QColor FromColorRef(unsigned value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

void DownloadListModel::SetCount(int count) {
  if (count == count_) {
    Refresh();
    return;
  }
  beginResetModel();
  count_ = count;
  endResetModel();
}

void DownloadListModel::Refresh() {
  if (count_ > 0) Q_EMIT dataChanged(index(0), index(count_ - 1));
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_) return {};
  DownloadRow row = source_(index.row());
  if (role == Qt::DisplayRole) return row.heading;
  if (role == kPercentRole) return row.percent;
  return {};
}

void DownloadRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  painter->save();
  bool selected = option.state & QStyle::State_Selected;
  QColor background = FromColorRef(selected ? 0xE2C28D : (index.row() % 2 ? 0xF9F3EA : 0xFBF9F5));
  painter->fillRect(option.rect, background);
  int percent = index.data(DownloadListModel::kPercentRole).toInt();
  if (percent >= 0) {
    QRect done = option.rect;
    done.setWidth(option.rect.width() * std::min(percent, 100) / 100);
    painter->fillRect(done, FromColorRef(0xF7E0BB));
  }
  QRect text = option.rect.adjusted(5, 0, -2, 0);
  QString heading = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                  Qt::ElideRight, text.width());
  painter->setPen(Qt::black);
  painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, heading);
  painter->restore();
}

QSize DownloadRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(option.rect.width(), option.fontMetrics.height() + 8);
}

DownloadListView::DownloadListView(QWidget* parent) : QListView(parent) {
  setItemDelegate(new DownloadRowDelegate(this));
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void DownloadListView::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  if (model() != nullptr && model()->rowCount() == 0) {
    QPainter painter(viewport());
    painter.drawText(viewport()->rect(), Qt::AlignCenter, tr("Empty"));
  }
}

}  // namespace fvx::downloader
