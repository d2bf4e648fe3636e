// The "Import" tab: the source path with its browse button, the message
// area, the progress bar and the spinner.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace fvx::compiler::window {

class CMessageArea;

class CImportPage : public QWidget {
  Q_OBJECT
 public:
  explicit CImportPage(QWidget* parent = nullptr);

  QLineEdit* source() const { return source_; }
  CMessageArea* messages() const { return messages_; }
  QProgressBar* progress() const { return progress_; }
  QLabel* spinner() const { return spinner_; }

  // The spinner turns every 500 ms while a compile runs.
  void StartSpinner();
  void StopSpinner();

 private:
  void Browse();
  void Turn();

  QLineEdit* source_;
  QPushButton* browse_;
  CMessageArea* messages_;
  QProgressBar* progress_;
  QLabel* spinner_;
  QTimer* spinner_timer_;
  int spinner_step_ = 0;
};

}  // namespace fvx::compiler::window
