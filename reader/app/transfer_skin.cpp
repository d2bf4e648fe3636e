#include "reader/app/transfer_skin.h"

#include <QDialog>
#include <QLabel>
#include <QLinearGradient>
#include <QPalette>

namespace fvx::reader::app {

void SkinTransferWindow(QDialog* dialog, const QString& heading) {
  dialog->setFixedSize(310, 182);
  QPalette palette = dialog->palette();
  QLinearGradient gradient(0, 0, 0, dialog->height());
  gradient.setColorAt(0, QColor(0x9F, 0xDF, 0xBC));
  gradient.setColorAt(1, palette.color(QPalette::Window));
  palette.setBrush(QPalette::Window, gradient);
  dialog->setPalette(palette);
  dialog->setAutoFillBackground(true);

  auto* title = new QLabel(heading, dialog);
  title->setObjectName("heading");
  QFont font = title->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  title->setFont(font);
  title->setGeometry(33, 6, 240, 24);
}

}  // namespace fvx::reader::app
