// Folivox3: the reader's window program.
//
//   Folivox3 [BOOK] [-nologo]
//
// With a book, opens it (the path exactly as given); without one, the manual
// on the first start and the net library catalogue afterwards.
#include <QApplication>
#include <QTimer>

#include "platform/paths.h"
#include "platform/registry.h"
#include "reader/app/library_mode.h"
#include "reader/app/main_window.h"
#include "reader/app/page_fonts.h"
#include "reader/app/page_view.h"
#include "reader/app/splash.h"

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
  const QStringList arguments = app.arguments().mid(1);
  bool no_logo = false;
  fvx::reader::app::BookPathFromArguments(arguments, &no_logo);
  if (!no_logo) fvx::reader::app::ShowSplash();

  // The catalogue refresh starts before the window exists and lives as long
  // as the program.
  fvx::reader::app::LibraryStartUp library(fvx::platform::Registry::Default(),
                                           QString::fromStdString(fvx::platform::DataHome()));
  library.Start();
  fvx::reader::app::MainWindow window;
  window.libraryMode()->AttachRefresher(&library.refresher());
  window.ListenForHandOver();
  window.show();

  QTimer::singleShot(0, &window, [&window, arguments] { window.StartUp(arguments); });
  return app.exec();
}
