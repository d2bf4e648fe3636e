#include "compiler/app/window/options_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/registry.h"

namespace fvx::compiler::window {
namespace {

template <typename T>
T* Control(QWidget* parent, const char* id, const QString& text, const char* tip) {
  auto* control = new T(text, parent);
  control->setObjectName(QString::fromLatin1(id));
  if (tip != nullptr) control->setToolTip(QString::fromLatin1(tip));
  return control;
}

}  // namespace

COptionsPage::COptionsPage(platform::Registry& registry, QWidget* parent)
    : QWidget(parent), registry_(registry) {
  auto* segmentation_group = new QGroupBox(tr("Segmentation"), this);
  automatic_ = Control<QRadioButton>(segmentation_group, "1005", tr("Automatic"),
                                     "Find the best search segmentation for the book");
  fixed_ = Control<QRadioButton>(segmentation_group, "1006", tr("Fixed ( Value below )"),
                                 "Use the segmentation given below");
  segmentation_ = new QLineEdit(segmentation_group);
  segmentation_->setObjectName("1012");
  segmentation_->setToolTip("Maximum value allowed is 8000.");
  segmentation_->setValidator(new QIntValidator(0, 99999, segmentation_));
  auto* segmentation_layout = new QVBoxLayout(segmentation_group);
  segmentation_layout->addWidget(automatic_);
  segmentation_layout->addWidget(fixed_);
  segmentation_layout->addWidget(segmentation_);
  segmentation_layout->addStretch();

  auto* log_group = new QGroupBox(tr("Log File"), this);
  disable_warnings_ = Control<QCheckBox>(log_group, "1000", tr("Disable warnings"),
                                         "Turn off warning messages");
  produce_log_ = Control<QCheckBox>(log_group, "1001", tr("Produce Log File"),
                                    "Write every message of a compile into a log file");
  fixed_log_path_ = Control<QCheckBox>(log_group, "1002", tr("Create In The Following Directory"),
                                       "Put the log file in the folder below instead of the "
                                       "source's folder");
  log_path_ = new QLineEdit(log_group);
  log_path_->setObjectName("1013");
  log_path_->setToolTip("The folder for the log file");
  browse_ = Control<QPushButton>(log_group, "1010", "...", "Choose the folder for the log file");
  browse_->setFixedWidth(32);
  auto* path_row = new QHBoxLayout();
  path_row->addWidget(log_path_);
  path_row->addWidget(browse_);
  auto* log_layout = new QVBoxLayout(log_group);
  log_layout->addWidget(disable_warnings_);
  log_layout->addWidget(produce_log_);
  log_layout->addWidget(fixed_log_path_);
  log_layout->addLayout(path_row);

  auto* pictures_group = new QGroupBox(tr("Pictures"), this);
  skip_pictures_ = Control<QCheckBox>(pictures_group, "1004", tr("Skip Pictures"),
                                      "Leave the pictures out of the book");
  (new QVBoxLayout(pictures_group))->addWidget(skip_pictures_);

  auto* sorting_group = new QGroupBox(tr("Sorting"), this);
  sort_automatically_ = Control<QRadioButton>(sorting_group, "1007",
                                              tr("Automatically Sort Unsorted Files"),
                                              "Sort a book whose subjects are not in order");
  sort_never_ = Control<QRadioButton>(sorting_group, "1008", tr("Leave The Subject Order As It Is"),
                                      "Keep the subjects in the order of the source");
  sort_ask_ = Control<QRadioButton>(sorting_group, "1009", tr("Ask Me Before Sort"),
                                    "Ask before sorting a large unsorted book");
  underscores_ = Control<QCheckBox>(sorting_group, "1003",
                                    tr("Replace leading underscores with spaces"),
                                    "Subject headings starting with \"_\" start with spaces");
  auto* sort_buttons = new QButtonGroup(sorting_group);
  sort_buttons->addButton(sort_automatically_);
  sort_buttons->addButton(sort_never_);
  sort_buttons->addButton(sort_ask_);
  auto* sorting_layout = new QVBoxLayout(sorting_group);
  sorting_layout->addWidget(sort_automatically_);
  sorting_layout->addWidget(sort_never_);
  sorting_layout->addWidget(sort_ask_);
  sorting_layout->addWidget(underscores_);

  save_ = Control<QPushButton>(this, "132", tr("Save"), "Store these options");

  auto* grid = new QGridLayout(this);
  grid->addWidget(segmentation_group, 0, 0);
  grid->addWidget(log_group, 0, 1);
  grid->addWidget(pictures_group, 1, 0);
  grid->addWidget(sorting_group, 1, 1);
  auto* save_row = new QHBoxLayout();
  save_row->addStretch();
  save_row->addWidget(save_);
  grid->addLayout(save_row, 2, 0, 1, 2);

  Show(LoadImportOptions(registry_));

  for (QAbstractButton* button :
       std::initializer_list<QAbstractButton*>{automatic_, fixed_, disable_warnings_, produce_log_,
                                               fixed_log_path_, skip_pictures_, sort_automatically_,
                                               sort_never_, sort_ask_, underscores_}) {
    connect(button, &QAbstractButton::toggled, this, &COptionsPage::Changed);
  }
  connect(segmentation_, &QLineEdit::textEdited, this, &COptionsPage::Changed);
  connect(log_path_, &QLineEdit::textEdited, this, &COptionsPage::Changed);
  connect(browse_, &QPushButton::clicked, this, &COptionsPage::BrowseLogDirectory);
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
}

void COptionsPage::Show(const ImportOptions& o) {
  const QSignalBlocker blockers[] = {QSignalBlocker(automatic_), QSignalBlocker(fixed_)};
  (o.fixed_segmentation ? fixed_ : automatic_)->setChecked(true);
  segmentation_->setText(QString::number(o.segmentation_size));
  disable_warnings_->setChecked(o.disable_warnings);
  produce_log_->setChecked(o.produce_log);
  fixed_log_path_->setChecked(o.fixed_log_path);
  log_path_->setText(QString::fromStdString(o.log_path));
  skip_pictures_->setChecked(o.skip_pictures);
  switch (o.sort_type) {
    case ImportOptions::kSortAutomatically: sort_automatically_->setChecked(true); break;
    case ImportOptions::kSortNever: sort_never_->setChecked(true); break;
    default: sort_ask_->setChecked(true); break;
  }
  underscores_->setChecked(false);  // held in memory only, off at each start
  save_->setEnabled(false);
  UpdateEnabling();
}

ImportOptions COptionsPage::Current() const {
  ImportOptions o;
  o.fixed_segmentation = fixed_->isChecked();
  // The field may hold anything the user typed; what a compile uses is
  // always within the limits.
  bool number = false;
  const uint32_t typed = segmentation_->text().toUInt(&number);
  o.segmentation_size = std::clamp(number ? typed : ImportOptions().segmentation_size,
                                   ImportOptions::kMinSegmentation, ImportOptions::kMaxSegmentation);
  o.disable_warnings = disable_warnings_->isChecked();
  o.produce_log = produce_log_->isChecked();
  o.fixed_log_path = fixed_log_path_->isChecked();
  o.log_path = log_path_->text().toStdString();
  o.skip_pictures = skip_pictures_->isChecked();
  o.sort_type = sort_automatically_->isChecked() ? ImportOptions::kSortAutomatically
                : sort_never_->isChecked()       ? ImportOptions::kSortNever
                                                 : ImportOptions::kSortAsk;
  return o;
}

bool COptionsPage::Save() {
  const ImportOptions options = Current();
  segmentation_->setText(QString::number(options.segmentation_size));
  const bool ok = SaveImportOptions(registry_, options);
  if (ok) save_->setEnabled(false);
  return ok;
}

bool COptionsPage::SaveEnabled() const { return save_->isEnabled(); }

void COptionsPage::UpdateEnabling() {
  const bool log = produce_log_->isChecked();
  fixed_log_path_->setEnabled(log);
  log_path_->setEnabled(log && fixed_log_path_->isChecked());
  browse_->setEnabled(log && fixed_log_path_->isChecked());
  segmentation_->setEnabled(fixed_->isChecked());
}

void COptionsPage::Changed() {
  UpdateEnabling();
  save_->setEnabled(true);
}

void COptionsPage::BrowseLogDirectory() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, tr("Select A Starting Directory"), log_path_->text());
  if (folder.isEmpty()) return;
  log_path_->setText(folder);
  Changed();
}

bool COptionsPage::ReplaceLeadingUnderscores() { return underscores_->isChecked(); }

bool COptionsPage::FixedSegmentation(uint32_t& size) {
  ImportOptionsProvider provider(Current(), false, nullptr);
  return provider.FixedSegmentation(size);
}

bool COptionsPage::ShouldSort(uint32_t subject_count) {
  ImportOptionsProvider provider(Current(), false, ask_sort_);
  return provider.ShouldSort(subject_count);
}

bool COptionsPage::SkipPictures() { return skip_pictures_->isChecked(); }

}  // namespace fvx::compiler::window
