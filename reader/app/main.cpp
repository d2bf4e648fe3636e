// Folivox3: the reader's window program.
//
//   Folivox3 [BOOK] [-nologo]
//
// With a book, opens it (the path exactly as given); without one, the manual
// on the first start and the net library catalogue afterwards.
#include <QApplication>
#include <QTimer>

#include "platform/registry.h"
#include "reader/app/main_window.h"
#include "reader/app/page_view.h"
#include "reader/reading_state.h"

int main(int argc, char* argv[]) {
  // The page scheme must be known before the application object exists.
  fvx::reader::app::RegisterPageSchemes();
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Calderwick Ltd.");
  QApplication::setApplicationName("Folivox3");
  QApplication::setApplicationVersion("3.0");
  QApplication::setWindowIcon(QIcon(":/icons/folivox3.svg"));

  fvx::reader::app::MainWindow window;
  window.ListenForHandOver();
  window.show();

  const QString path = fvx::reader::app::BookPathFromArguments(app.arguments().mid(1));
  QTimer::singleShot(0, &window, [&window, path] {
    if (!path.isEmpty()) {
      window.OpenBook(path);
      return;
    }
    auto& registry = fvx::platform::Registry::Default();
    const uint32_t first_time = fvx::reader::ReadDwordWithDefault(
        registry, fvx::reader::kFvxRegistryKey, "FirstTime", 1);
    if (first_time != 0) {
      registry.WriteDword(fvx::platform::RegistryRoot::kLocalMachine,
                          fvx::reader::kFvxRegistryKey, "FirstTime", 0);
      window.action(fvx::reader::app::kCmdManual)->trigger();
    } else {
      window.action(fvx::reader::app::kCmdCatalogue)->trigger();
    }
  });
  return app.exec();
}
