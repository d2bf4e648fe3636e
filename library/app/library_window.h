// "My Fvx Files": the local library as a two-column list (title, date) with
// type-ahead search, sorting by either column, in-place renaming and
// deleting of entries (never of files). Closing with "Open" or a double
// click leaves the chosen book's path in SelectedPath().
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <functional>

#include "library/library_list.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace fvx::library {

class LibraryTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // confirm_rename asks the user; REQUIRES: list outlives the model.
  LibraryTableModel(LibraryList& list, std::function<bool()> confirm_rename,
                    QObject* parent = nullptr)
      : QAbstractTableModel(parent), list_(list), confirm_rename_(std::move(confirm_rename)) {}

  void Reset() {
    beginResetModel();
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(list_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : 2;
  }
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  LibraryList& list_;
  std::function<bool()> confirm_rename_;
};

class LibraryWindow : public QDialog {
  Q_OBJECT

 public:
  // Asks a yes/no question (an HTML message); the default shows a message box.
  using Confirm = std::function<bool(const QString& message)>;
  using Beep = std::function<void()>;

  explicit LibraryWindow(platform::Registry& registry, QWidget* parent = nullptr);
  void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
  void SetBeep(Beep beep) { beep_ = std::move(beep); }

  const QString& SelectedPath() const { return selected_path_; }
  LibraryList& list() { return list_; }
  // The sort state (column, ascending) and the two header marks.
  LibraryColumn SortColumn() const { return sort_column_; }
  bool SortAscending() const { return sort_ascending_; }

  void OpenSelected();
  void DeleteSelected();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SortBy(LibraryColumn column);
  void ApplySort();
  void Search(const QString& text);
  void ShowCount();

  LibraryList list_;
  LibraryTableModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QPushButton* title_button_ = nullptr;
  QPushButton* date_button_ = nullptr;
  QLineEdit* search_ = nullptr;
  QLabel* count_ = nullptr;
  LibraryColumn sort_column_ = LibraryColumn::kHeading;
  bool sort_ascending_ = true;
  int last_search_length_ = 0;
  QString selected_path_;
  Confirm confirm_;
  Beep beep_;
};

}  // namespace fvx::library
