// The "Options" tab: the stored import options, their enabling rules and
// "Save", and the options provider that answers a compile from the page's
// current state (not only from what was saved).
//
// Controls carry their dialog ids as object names ("1005", "132", ...).
#pragma once

#include <QWidget>
#include <functional>

#include "compiler/app/import_options.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace fvx::platform {
class Registry;
}

namespace fvx::compiler::window {

class COptionsPage : public QWidget, public OptionsProvider {
  Q_OBJECT
 public:
  // Reads every value (creating missing numbers with their defaults) and
  // shows them; SegmentationSize is shown clamped to 16..8000.
  COptionsPage(platform::Registry& registry, QWidget* parent = nullptr);

  // The options as the controls show them now.
  ImportOptions Current() const;
  // Writes every value but LastImportFile and disables "Save".
  bool Save();
  bool SaveEnabled() const;

  // The question for ShouldSort; the window sets it to its message box.
  void SetSortQuestion(std::function<bool(uint32_t subject_count)> ask) { ask_sort_ = std::move(ask); }

  // OptionsProvider, answered from the controls.
  bool ReplaceLeadingUnderscores() override;
  bool FixedSegmentation(uint32_t& size) override;
  bool ShouldSort(uint32_t subject_count) override;
  bool SkipPictures() override;

 private:
  void Show(const ImportOptions& options);
  void UpdateEnabling();
  void Changed();
  void BrowseLogDirectory();

  platform::Registry& registry_;
  std::function<bool(uint32_t)> ask_sort_;
  QRadioButton* automatic_;
  QRadioButton* fixed_;
  QLineEdit* segmentation_;
  QCheckBox* disable_warnings_;
  QCheckBox* produce_log_;
  QCheckBox* fixed_log_path_;
  QLineEdit* log_path_;
  QPushButton* browse_;
  QCheckBox* skip_pictures_;
  QRadioButton* sort_automatically_;
  QRadioButton* sort_never_;
  QRadioButton* sort_ask_;
  QCheckBox* underscores_;
  QPushButton* save_;
};

}  // namespace fvx::compiler::window
