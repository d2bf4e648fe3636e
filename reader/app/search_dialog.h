// The search dialog: every field of a search query, opened with the last
// query's values.
#pragma once

#include <QDialog>

#include "reader/document.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace fvx::reader::app {

class SearchDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SearchDialog(const SearchQuery& query, QWidget* parent = nullptr);
  SearchQuery query() const;

 private:
  QLineEdit* words_[3] = {};
  QComboBox* operators_[2] = {};
  QCheckBox* headings_only_ = nullptr;
  QCheckBox* match_case_ = nullptr;
  QCheckBox* whole_words_ = nullptr;
  QCheckBox* find_all_ = nullptr;
  QCheckBox* from_beginning_ = nullptr;
};

}  // namespace fvx::reader::app
