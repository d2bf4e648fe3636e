// Folivox3: the reader's window program.
//
//   Folivox3 [BOOK] [-nologo]
//
// With a book, opens it (the path exactly as given); without one, the manual
// on the first start and the net library catalogue afterwards.
#include <QApplication>
#include <QTimer>

#include "reader/app/main_window.h"
#include "reader/app/page_fonts.h"
#include "reader/app/page_view.h"

int main(int argc, char* argv[]) {
  // The font alias and the page scheme must be in place before the
  // application object (and the web engine's helpers) exist.
  fvx::reader::app::InstallPageFontAlias();
  fvx::reader::app::RegisterPageSchemes();
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Calderwick Ltd.");
  QApplication::setApplicationName("Folivox3");
  QApplication::setApplicationVersion("3.0");
  QApplication::setWindowIcon(QIcon(":/icons/folivox3.svg"));

  fvx::reader::app::MainWindow window;
  window.ListenForHandOver();
  window.show();

  const QStringList arguments = app.arguments().mid(1);
  QTimer::singleShot(0, &window, [&window, arguments] { window.StartUp(arguments); });
  return app.exec();
}
