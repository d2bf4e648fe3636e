#include "reader/app/search_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace fvx::reader::app {

SearchDialog::SearchDialog(const SearchQuery& query, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Search"));
  setObjectName("search_dialog");
  auto* form = new QFormLayout(this);
  for (int i = 0; i < 3; ++i) {
    words_[i] = new QLineEdit(QString::fromStdString(query.words[i]), this);
    words_[i]->setObjectName(QStringLiteral("word%1").arg(i + 1));
    if (i > 0) {
      operators_[i - 1] = new QComboBox(this);
      operators_[i - 1]->addItems({tr("AND"), tr("OR")});
      operators_[i - 1]->setObjectName(QStringLiteral("operator%1").arg(i + 1));
      operators_[i - 1]->setCurrentIndex(
          (i == 1 ? query.operator2 : query.operator3) == SearchOperator::kOr ? 1 : 0);
      operators_[i - 1]->setAccessibleName(tr("Operator %1").arg(i + 1));
      form->addRow(tr("&Operator:"), operators_[i - 1]);
    }
    form->addRow(tr("Word &%1:").arg(i + 1), words_[i]);
  }
  auto check = [&](const char* name, const QString& label, bool on) {
    auto* box = new QCheckBox(label, this);
    box->setObjectName(name);
    box->setChecked(on);
    form->addRow(box);
    return box;
  };
  headings_only_ = check("headings_only", tr("Search &headings only"), query.headings_only);
  match_case_ = check("match_case", tr("Match &case"), query.match_case);
  whole_words_ = check("whole_words", tr("&Whole words"), query.whole_words);
  find_all_ = check("find_all", tr("Find &all (list every match)"), query.find_all);
  from_beginning_ = check("from_beginning", tr("Start at the &first subject"), query.from_beginning);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(tr("&Search"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  words_[0]->setFocus();
}

SearchQuery SearchDialog::query() const {
  SearchQuery query;
  for (int i = 0; i < 3; ++i) query.words[i] = words_[i]->text().toStdString();
  query.operator2 = operators_[0]->currentIndex() == 1 ? SearchOperator::kOr : SearchOperator::kAnd;
  query.operator3 = operators_[1]->currentIndex() == 1 ? SearchOperator::kOr : SearchOperator::kAnd;
  query.headings_only = headings_only_->isChecked();
  query.match_case = match_case_->isChecked();
  query.whole_words = whole_words_->isChecked();
  query.find_all = find_all_->isChecked();
  query.from_beginning = from_beginning_->isChecked();
  return query;
}

}  // namespace fvx::reader::app
