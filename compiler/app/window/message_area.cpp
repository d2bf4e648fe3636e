#include "compiler/app/window/message_area.h"

#include <QEvent>
#include <QFontDatabase>

#include "compiler/app/window/message_lines.h"

namespace fvx::compiler::window {
namespace {

constexpr int kForegroundRole = Qt::UserRole + 1;
constexpr int kBackgroundRole = Qt::UserRole + 2;

}  // namespace

CMessageArea::CMessageArea(QWidget* parent) : QListWidget(parent) {
  setObjectName("1017");
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (auto line = SourceLineOf(item->text().toLatin1().toStdString())) {
      emit sourceLineActivated(*line);
    }
  });
}

bool CMessageArea::DarkTheme() const { return palette().color(QPalette::Base).lightness() < 128; }

void CMessageArea::AddLine(const std::string& line) {
  const ParsedLine parsed = ParseAreaLine(line);
  while (count() >= kMaxLines) delete takeItem(0);
  auto* item = new QListWidgetItem(AreaText(parsed.text));
  item->setData(kForegroundRole, parsed.foreground);
  item->setData(kBackgroundRole, parsed.background);
  const bool dark = DarkTheme();
  item->setForeground(PaletteColour(parsed.foreground, dark));
  // Background 0 is the area's own base, so that themes keep their look.
  if (parsed.background != 0) item->setBackground(PaletteColour(parsed.background, dark));
  addItem(item);
  scrollToItem(item);
}

QString CMessageArea::LineText(int i) const {
  const QListWidgetItem* line = item(i);
  return line ? line->text() : QString();
}

void CMessageArea::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) Recolour();
}

void CMessageArea::Recolour() {
  const bool dark = DarkTheme();
  for (int i = 0; i < count(); ++i) {
    QListWidgetItem* line = item(i);
    line->setForeground(PaletteColour(line->data(kForegroundRole).toInt(), dark));
    const int background = line->data(kBackgroundRole).toInt();
    if (background != 0) line->setBackground(PaletteColour(background, dark));
  }
}

}  // namespace fvx::compiler::window
