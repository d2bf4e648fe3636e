#include "compiler/app/window/import_page.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "compiler/app/window/message_area.h"

namespace fvx::compiler::window {
namespace {

constexpr const char* kSpinnerTexts[] = {"\\", "|", "/", "--"};

}  // namespace

CImportPage::CImportPage(QWidget* parent) : QWidget(parent) {
  source_ = new QLineEdit(this);
  source_->setObjectName("1014");
  source_->setToolTip(tr("The source file to compile"));
  browse_ = new QPushButton("...", this);
  browse_->setObjectName("1015");
  browse_->setFixedWidth(32);
  browse_->setToolTip(tr("Choose the source file"));
  messages_ = new CMessageArea(this);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("1016");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  spinner_ = new QLabel(this);
  spinner_->setObjectName("133");
  spinner_->setFixedWidth(24);
  spinner_->setAlignment(Qt::AlignCenter);
  spinner_timer_ = new QTimer(this);
  spinner_timer_->setInterval(500);

  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(tr("Source file:"), this), 0, 0);
  layout->addWidget(source_, 0, 1);
  layout->addWidget(browse_, 0, 2);
  layout->addWidget(messages_, 1, 0, 1, 3);
  layout->addWidget(progress_, 2, 0, 1, 2);
  layout->addWidget(spinner_, 2, 2);
  layout->setRowStretch(1, 1);

  connect(browse_, &QPushButton::clicked, this, &CImportPage::Browse);
  connect(spinner_timer_, &QTimer::timeout, this, &CImportPage::Turn);
}

void CImportPage::StartSpinner() {
  spinner_step_ = 0;
  Turn();
  spinner_timer_->start();
}

void CImportPage::StopSpinner() {
  spinner_timer_->stop();
  spinner_->clear();
}

void CImportPage::Turn() {
  spinner_->setText(QString::fromLatin1(kSpinnerTexts[spinner_step_]));
  spinner_step_ = (spinner_step_ + 1) % 4;
}

void CImportPage::Browse() {
  const QString file = QFileDialog::getOpenFileName(this, tr("Open"), source_->text(),
                                                    tr("Text Files (*.txt);; Fvw Files (*.fv)"));
  if (!file.isEmpty()) {
    source_->setText(file);
    emit source_->textEdited(file);
  }
}

}  // namespace fvx::compiler::window
