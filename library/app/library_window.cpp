#include "library/app/library_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <ctime>

namespace fvx::library {
namespace {

QColor FromColorRef(unsigned value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace

QVariant LibraryTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<size_t>(index.row()) >= list_.size()) return {};
  size_t row = static_cast<size_t>(index.row());
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    return QString::fromStdString(index.column() == 0 ? list_.Heading(row) : list_.DateText(row));
  }
  if (role == Qt::BackgroundRole) {
    bool odd = index.row() % 2 != 0;
    if (list_.CreatedTime(row) != 0 && IsToday(list_.CreatedTime(row), std::time(nullptr))) {
      return FromColorRef(odd ? 0xE3EFFD : 0xF3F9FE);
    }
    return FromColorRef(odd ? 0xF9F3EA : 0xFBF9F5);
  }
  if (role == Qt::ToolTipRole) return QString::fromStdString(list_.Path(row));
  return {};
}

QVariant LibraryTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section == 0 ? tr("Title") : tr("Date");
}

Qt::ItemFlags LibraryTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  if (index.column() == 0) flags |= Qt::ItemIsEditable;
  return flags;
}

bool LibraryTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != 0) return false;
  size_t row = static_cast<size_t>(index.row());
  std::string text = value.toString().toStdString();
  if (text == list_.Heading(row) || value.toString().trimmed().isEmpty()) return false;
  if (!confirm_rename_()) return false;
  beginResetModel();
  bool renamed = list_.Rename(row, text);
  endResetModel();
  return renamed;
}

LibraryWindow::LibraryWindow(platform::Registry& registry, QWidget* parent)
    : QDialog(parent), list_(registry) {
  setObjectName("235");
  setWindowTitle(tr("My Fvx Files"));
  resize(470, 300);
  confirm_ = [this](const QString& message) {
    return QMessageBox::warning(this, windowTitle(), message,
                                QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
  };
  beep_ = [] { QApplication::beep(); };

  model_ = new LibraryTableModel(
      list_,
      [this] { return confirm_(tr("Are you sure you want to rename this library entry ?")); },
      this);

  auto* layout = new QVBoxLayout(this);
  auto* headers = new QHBoxLayout;
  title_button_ = new QPushButton(tr("Title"), this);
  title_button_->setObjectName("170");
  date_button_ = new QPushButton(tr("Date"), this);
  date_button_->setObjectName("171");
  headers->addWidget(title_button_, 1);
  headers->addWidget(date_button_);
  layout->addLayout(headers);

  view_ = new QTableView(this);
  view_->setObjectName("156");
  view_->setModel(model_);
  view_->horizontalHeader()->hide();
  view_->verticalHeader()->hide();
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  view_->setShowGrid(false);
  view_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  int date_width = view_->fontMetrics().horizontalAdvance("00/00/0000 00:00 AM") +
                   style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 5;
  view_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  view_->horizontalHeader()->resizeSection(1, date_width);
  layout->addWidget(view_);

  auto* bottom = new QHBoxLayout;
  search_ = new QLineEdit(this);
  search_->setObjectName("161");
  bottom->addWidget(search_);
  count_ = new QLabel(this);
  count_->setObjectName("count");
  bottom->addWidget(count_);
  auto* remove = new QPushButton(tr("Delete"), this);
  remove->setObjectName("163");
  auto* open = new QPushButton(tr("Open"), this);
  open->setObjectName("162");
  auto* done = new QPushButton(tr("Done"), this);
  done->setObjectName("2");
  bottom->addWidget(remove);
  bottom->addWidget(open);
  bottom->addWidget(done);
  layout->addLayout(bottom);

  connect(title_button_, &QPushButton::clicked, this, [this] { SortBy(LibraryColumn::kHeading); });
  connect(date_button_, &QPushButton::clicked, this,
          [this] { SortBy(LibraryColumn::kCreatedTime); });
  connect(search_, &QLineEdit::textEdited, this, &LibraryWindow::Search);
  connect(open, &QPushButton::clicked, this, &LibraryWindow::OpenSelected);
  connect(view_, &QTableView::doubleClicked, this, &LibraryWindow::OpenSelected);
  connect(remove, &QPushButton::clicked, this, &LibraryWindow::DeleteSelected);
  connect(done, &QPushButton::clicked, this, &QDialog::reject);

  list_.Load();
  // Newest first on opening; the sort state itself starts as (title, ascending).
  list_.Sort(LibraryColumn::kCreatedTime, false);
  model_->Reset();
  title_button_->setText(tr("Title"));
  ShowCount();
}

void LibraryWindow::SortBy(LibraryColumn column) {
  if (column == sort_column_) {
    sort_ascending_ = !sort_ascending_;
  } else {
    sort_column_ = column;
    sort_ascending_ = true;
  }
  ApplySort();
}

void LibraryWindow::ApplySort() {
  list_.Sort(sort_column_, sort_ascending_);
  model_->Reset();
  QString arrow = sort_ascending_ ? QString::fromUtf8(" \u25B2") : QString::fromUtf8(" \u25BC");
  title_button_->setText(tr("Title") +
                         (sort_column_ == LibraryColumn::kHeading ? arrow : QString()));
  date_button_->setText(tr("Date") +
                        (sort_column_ == LibraryColumn::kCreatedTime ? arrow : QString()));
}

void LibraryWindow::Search(const QString& text) {
  std::optional<size_t> found = list_.FindPrefix(text.toStdString());
  if (found) {
    QModelIndex index = model_->index(static_cast<int>(*found), 0);
    view_->selectionModel()->select(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->setCurrentIndex(index);
    view_->scrollTo(index);
  } else if (text.size() > last_search_length_) {
    beep_();
  }
  last_search_length_ = static_cast<int>(text.size());
}

void LibraryWindow::OpenSelected() {
  QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  std::sort(rows.begin(), rows.end());
  selected_path_ = QString::fromStdString(list_.Path(static_cast<size_t>(rows.first().row())));
  accept();
}

void LibraryWindow::DeleteSelected() {
  QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  if (!confirm_(tr("Are you sure you want to delete<br>the selected file(s) from the library?")))
    return;
  std::vector<size_t> indices;
  for (const QModelIndex& row : rows) indices.push_back(static_cast<size_t>(row.row()));
  list_.Delete(indices);
  model_->Reset();
  ShowCount();
}

void LibraryWindow::ShowCount() {
  count_->setText(tr("%n book(s)", nullptr, static_cast<int>(list_.size())));
}

void LibraryWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && view_->hasFocus()) {
    DeleteSelected();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace fvx::library
