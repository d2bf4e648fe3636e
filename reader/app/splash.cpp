#include "reader/app/splash.h"

#include <QApplication>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QSplashScreen>
#include <QTimer>

namespace fvx::reader::app {
namespace {

constexpr int kShowMilliseconds = 2000;

QPixmap SplashPicture() {
  const qreal ratio = qApp->devicePixelRatio();
  QPixmap picture(QSize(480, 220) * ratio);
  picture.setDevicePixelRatio(ratio);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, 220);
  background.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
  background.setColorAt(1, QColor(0x0d, 0x24, 0x3a));
  painter.fillRect(QRect(0, 0, 480, 220), background);
  painter.drawPixmap(28, 62, QIcon(":/icons/folivox3.svg").pixmap(96, 96));
  painter.setPen(Qt::white);
  QFont title = painter.font();
  title.setPointSize(26);
  title.setBold(true);
  painter.setFont(title);
  painter.drawText(QRect(140, 64, 320, 48), Qt::AlignLeft | Qt::AlignVCenter, "Folivox3");
  QFont line = painter.font();
  line.setPointSize(11);
  line.setBold(false);
  painter.setFont(line);
  painter.setPen(QColor(0xc8, 0xd8, 0xe8));
  painter.drawText(QRect(140, 112, 320, 40), Qt::AlignLeft | Qt::AlignTop,
                   QApplication::translate("Splash", "Reference books, read and searched"));
  return picture;
}

}  // namespace

void ShowSplash() {
  auto* splash = new QSplashScreen(SplashPicture(), Qt::WindowStaysOnTopHint);
  splash->setObjectName("splash");
  splash->setAttribute(Qt::WA_DeleteOnClose);
  splash->show();
  QTimer::singleShot(kShowMilliseconds, splash, &QWidget::close);
}

}  // namespace fvx::reader::app
