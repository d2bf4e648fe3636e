#include "reader/app/category_filters.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "reader/app/book_text.h"
#include "reader/book_document.h"

namespace fvx::reader::app {
namespace {

constexpr int kRoleListRow = Qt::UserRole + 1;
constexpr int kRoleValue = Qt::UserRole + 2;

constexpr const char* kOperatorText[] = {"=", "<", "<=", ">", ">=", "!="};

// A list of a row's values that reads them only when it is opened: a
// category may have tens of thousands of values.
class ValueChoices : public QComboBox {
 public:
  ValueChoices(BookDocument* document, const QByteArray& charset, uint32_t list_row,
               QWidget* parent)
      : QComboBox(parent), document_(document), charset_(charset), list_row_(list_row) {
    addItem(QStringLiteral("\u2026"));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
  }

  void Fill() {
    if (filled_) return;
    filled_ = true;
    const uint32_t values = document_->ListRowValueCount(list_row_);
    for (uint32_t value = 0; value < values; ++value) {
      addItem(DecodeBookText(document_->ListRowValueName(list_row_, value), charset_), value);
    }
  }

  void showPopup() override {
    Fill();
    QComboBox::showPopup();
  }

 private:
  BookDocument* document_;
  QByteArray charset_;
  uint32_t list_row_;
  bool filled_ = false;
};

// The first row of a list of values: the choice that is no condition.
void ShowNoChoice(QComboBox* box) {
  const QSignalBlocker blocker(box);
  box->setCurrentIndex(0);
}

void ShowChoice(QComboBox* box, uint32_t value) {
  if (auto* lazy = dynamic_cast<ValueChoices*>(box)) lazy->Fill();
  const QSignalBlocker blocker(box);
  const int index = box->findData(value);
  box->setCurrentIndex(index < 0 ? 0 : index);
}

}  // namespace

CategoryFilters::CategoryFilters(QTreeWidget* tree, QWidget* parent) : QWidget(parent), tree_(tree) {
  setObjectName("category_filters");
  tree_->setColumnCount(2);
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  tree_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  connect(tree_, &QTreeWidget::itemExpanded, this, &CategoryFilters::FillValueItems);
  auto choose = [this](QTreeWidgetItem* item) {
    if (!item->data(0, kRoleValue).isValid()) return;
    Q_EMIT valueChosen(item->data(0, kRoleListRow).toUInt(), item->data(0, kRoleValue).toUInt());
  };
  connect(tree_, &QTreeWidget::itemActivated, this, choose);
  connect(tree_, &QTreeWidget::itemClicked, this, choose);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  // The book's own drop-down lists come first: the author picked them.
  for (int k = 0; k < 2; ++k) {
    auto* row = new QHBoxLayout;
    drop_down_labels_[k] = new QLabel(this);
    drop_downs_[k] = new QComboBox(this);
    drop_downs_[k]->setObjectName(QStringLiteral("drop_down_%1").arg(k + 1));
    drop_down_labels_[k]->setBuddy(drop_downs_[k]);
    row->addWidget(drop_down_labels_[k]);
    row->addWidget(drop_downs_[k], 1);
    layout->addLayout(row);
    connect(drop_downs_[k], &QComboBox::activated, this, [this, k](int index) {
      const QVariant value = drop_downs_[k]->itemData(index);
      const std::optional<uint32_t> category =
          document_ ? document_->DropDownCategory(k + 1) : std::nullopt;
      if (value.isValid() && category) Q_EMIT dropDownChosen(*category, value.toUInt());
    });
    drop_down_labels_[k]->hide();
    drop_downs_[k]->hide();
  }

  auto* mode_row = new QHBoxLayout;
  auto* mode_label = new QLabel(tr("A chosen value:"), this);
  mode_row->addWidget(mode_label);
  modes_ = new QButtonGroup(this);
  const struct {
    FilterMode mode;
    const char* name;
    QString text;
    QString tip;
  } kModes[] = {
      {FilterMode::kReplace, "filter_mode_new", tr("New"), tr("Starts a new filter")},
      {FilterMode::kAnd, "filter_mode_and", tr("AND"),
       tr("Keeps the subjects that also hold the value")},
      {FilterMode::kOr, "filter_mode_or", tr("OR"), tr("Adds the subjects that hold the value")},
  };
  for (const auto& m : kModes) {
    auto* button = new QToolButton(this);
    button->setObjectName(m.name);
    button->setText(m.text);
    button->setToolTip(m.tip);
    button->setAccessibleName(m.tip);
    button->setCheckable(true);
    button->setAutoRaise(true);
    modes_->addButton(button, static_cast<int>(m.mode));
    mode_row->addWidget(button);
  }
  modes_->button(static_cast<int>(FilterMode::kReplace))->setChecked(true);
  mode_row->addStretch(1);
  layout->addLayout(mode_row);

  auto* summary_row = new QHBoxLayout;
  summary_ = new QLabel(this);
  summary_->setObjectName("filter_summary");
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  clear_ = new QToolButton(this);
  clear_->setObjectName("filter_clear");
  clear_->setIcon(style()->standardIcon(QStyle::SP_DialogResetButton));
  clear_->setToolTip(tr("List all subjects"));
  clear_->setAccessibleName(clear_->toolTip());
  clear_->setAutoRaise(true);
  connect(clear_, &QToolButton::clicked, this, &CategoryFilters::clearRequested);
  summary_row->addWidget(summary_, 1);
  summary_row->addWidget(clear_);
  layout->addLayout(summary_row);
}

FilterMode CategoryFilters::mode() const { return static_cast<FilterMode>(modes_->checkedId()); }

void CategoryFilters::SetMode(FilterMode mode) {
  if (QAbstractButton* button = modes_->button(static_cast<int>(mode))) button->setChecked(true);
}

void CategoryFilters::SetDocument(BookDocument* document, const QByteArray& charset) {
  document_ = document;
  charset_ = charset;
  tree_->clear();
  row_choices_.clear();
  for (int k = 0; k < 2; ++k) FillDropDown(drop_downs_[k], k + 1);
  if (document_) {
    const uint32_t rows = document_->CategoryListRowCount();
    for (uint32_t row = 0; row < rows; ++row) {
      auto* item = new QTreeWidgetItem(tree_);
      item->setText(0, DecodeBookText(document_->CategoryListRowName(row), charset_));
      item->setData(0, kRoleListRow, row);
      QComboBox* choices = nullptr;
      // Values are read when the row is opened or its list dropped down.
      if (document_->ListRowValueCount(row) > 0) {
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        choices = new ValueChoices(document_, charset_, row, tree_);
        choices->setObjectName(QStringLiteral("row_choices_%1").arg(row));
        choices->setAccessibleName(item->text(0));
        tree_->setItemWidget(item, 1, choices);
        connect(choices, &QComboBox::activated, this, [this, choices, row](int index) {
          const QVariant value = choices->itemData(index);
          if (value.isValid()) Q_EMIT valueChosen(row, value.toUInt());
        });
      }
      row_choices_.push_back(choices);
    }
  }
  ShowActiveFilter();
}

void CategoryFilters::FillDropDown(QComboBox* box, int list) {
  const int k = list - 1;
  box->clear();
  const std::optional<uint32_t> category =
      document_ ? document_->DropDownCategory(list) : std::nullopt;
  drop_down_labels_[k]->setVisible(category.has_value());
  box->setVisible(category.has_value());
  if (!category) return;
  const QString name = DecodeBookText(document_->CategoryName(*category), charset_);
  drop_down_labels_[k]->setText(name + ':');
  box->setAccessibleName(name);
  box->addItem(tr("(all)"));
  const uint32_t values = document_->ValueCount(*category);
  for (uint32_t value = 0; value < values; ++value) {
    box->addItem(DecodeBookText(document_->ValueName(*category, value), charset_), value);
  }
}

void CategoryFilters::FillValueItems(QTreeWidgetItem* item) {
  if (!document_ || item->childCount() > 0 || item->data(0, kRoleValue).isValid()) return;
  const uint32_t row = item->data(0, kRoleListRow).toUInt();
  const uint32_t values = document_->ListRowValueCount(row);
  for (uint32_t value = 0; value < values; ++value) {
    auto* child = new QTreeWidgetItem(item);
    child->setText(0, DecodeBookText(document_->ListRowValueName(row, value), charset_));
    child->setData(0, kRoleListRow, row);
    child->setData(0, kRoleValue, value);
  }
}

QString CategoryFilters::ConditionText(const FilterCondition& condition) {
  const QString category = DecodeBookText(document_->CategoryName(condition.category), charset_);
  const QString value = DecodeBookText(document_->ValueName(condition.category, condition.value),
                                       charset_);
  const auto op = static_cast<size_t>(condition.op);
  return QStringLiteral("%1 %2 %3")
      .arg(category, QLatin1String(op < std::size(kOperatorText) ? kOperatorText[op] : "?"),
           value);
}

void CategoryFilters::ShowActiveFilter() {
  // The lists beside the rows show what is chosen; a highlighted value row
  // could be one the filter no longer holds.
  tree_->clearSelection();
  for (QComboBox* box : row_choices_) {
    if (box) ShowNoChoice(box);
  }
  for (QComboBox* box : drop_downs_) ShowNoChoice(box);
  if (!document_) {
    summary_->clear();
    clear_->setEnabled(false);
    return;
  }
  const std::vector<FilterCondition> filter = document_->ActiveFilter();
  const uint32_t offset = (document_->SelectionCount() > 0 ? 1 : 0) +
                          (document_->SavedFilterCount() > 0 ? 1 : 0);
  QString text;
  for (const FilterCondition& condition : filter) {
    if (!text.isEmpty()) text += condition.mode == FilterMode::kOr ? tr(" OR ") : tr(" AND ");
    text += ConditionText(condition);
    // A value chosen alone, or the last of its category, shows in that
    // category's lists.
    if (condition.op != FilterOperator::kEqual) continue;
    for (uint32_t k = 0; k < document_->VisibleCategoryCount(); ++k) {
      if (document_->VisibleCategory(k) == condition.category && offset + k < row_choices_.size() &&
          row_choices_[offset + k]) {
        ShowChoice(row_choices_[offset + k], condition.value);
      }
    }
    for (int list = 1; list <= 2; ++list) {
      if (document_->DropDownCategory(list) == condition.category) {
        ShowChoice(drop_downs_[list - 1], condition.value);
      }
    }
  }
  const uint32_t rows = document_->ListRowCount();
  if (!document_->HasResults()) {
    summary_->setText(tr("All %n subject(s)", nullptr, static_cast<int>(document_->SubjectCount())));
  } else if (text.isEmpty()) {
    summary_->setText(tr("%n subject(s) listed", nullptr, static_cast<int>(rows)));
  } else {
    summary_->setText(tr("%1: %n subject(s)", nullptr, static_cast<int>(rows)).arg(text));
  }
  clear_->setEnabled(document_->HasResults());
}

QComboBox* CategoryFilters::rowChoices(uint32_t list_row) const {
  return list_row < row_choices_.size() ? row_choices_[list_row] : nullptr;
}

QComboBox* CategoryFilters::dropDown(int list) const {
  if (list < 1 || list > 2 || !document_ || !document_->DropDownCategory(list)) return nullptr;
  return drop_downs_[list - 1];
}

}  // namespace fvx::reader::app
