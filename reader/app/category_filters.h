// The filter side of the left pane: the category tree (one row per
// "Selections", "Filters" and visible category, its values as children and
// as a drop-down list beside the row), the book's two drop-down lists, the
// way a new condition joins the active filter (new, AND, OR) and a line that
// says what the subject list shows.
//
// The panel only asks: choosing a value emits valueChosen or
// dropDownChosen, and the main window applies the condition in mode() and
// calls ShowActiveFilter() once the list has followed.
#pragma once

#include <QByteArray>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "reader/document.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace fvx::reader {
class BookDocument;
}

namespace fvx::reader::app {

class CategoryFilters : public QWidget {
  Q_OBJECT

 public:
  // The tree is the window's; the panel fills it and watches it.
  CategoryFilters(QTreeWidget* tree, QWidget* parent);

  // REQUIRES: document (when not null) outlives its use here.
  void SetDocument(BookDocument* document, const QByteArray& charset);
  // How the next chosen value joins the active filter.
  FilterMode mode() const;
  void SetMode(FilterMode mode);
  // Brings the summary line and the drop-down lists in step with the
  // document's result list.
  void ShowActiveFilter();

  // The drop-down list of a category row (null for value rows), and the
  // book's first (1) or second (2) drop-down list (null when it has none).
  QComboBox* rowChoices(uint32_t list_row) const;
  QComboBox* dropDown(int list) const;
  QLabel* summary() const { return summary_; }

 Q_SIGNALS:
  void valueChosen(uint32_t list_row, uint32_t value);
  void dropDownChosen(uint32_t category, uint32_t value);
  void clearRequested();

 private:
  void FillValueItems(QTreeWidgetItem* item);
  void FillDropDown(QComboBox* box, int list);
  QString ConditionText(const FilterCondition& condition);

  QTreeWidget* tree_;
  BookDocument* document_ = nullptr;
  QByteArray charset_;
  QButtonGroup* modes_ = nullptr;
  QComboBox* drop_downs_[2] = {nullptr, nullptr};
  QLabel* drop_down_labels_[2] = {nullptr, nullptr};
  QLabel* summary_ = nullptr;
  QToolButton* clear_ = nullptr;
  std::vector<QComboBox*> row_choices_;  // by list row
};

}  // namespace fvx::reader::app
