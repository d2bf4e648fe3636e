// The message area of the "Import" tab: at most 500 coloured lines, the
// oldest dropped first, always showing the newest. Double-clicking a line
// that names a source position asks for that line in an editor.
#pragma once

#include <QListWidget>
#include <string>

namespace fvx::compiler::window {

class CMessageArea : public QListWidget {
  Q_OBJECT
 public:
  static constexpr int kMaxLines = 500;

  explicit CMessageArea(QWidget* parent = nullptr);

  // line: "\x03FF,BB" + text (message_lines.h); a line without colours is
  // shown in the default ones.
  void AddLine(const std::string& line);
  // The text of line i without its colour pair.
  QString LineText(int i) const;

 signals:
  void sourceLineActivated(int line);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void Recolour();
  bool DarkTheme() const;
};

}  // namespace fvx::compiler::window
