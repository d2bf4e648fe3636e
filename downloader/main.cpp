// FvxDownloader: fetches the books queued under "\LibInfo\Downloads" into
// the data home's "Library" folder and ends when nothing is left. Takes no
// arguments; a second start brings the running window to the front.
#include <QApplication>

#include "downloader/downloader_window.h"
#include "downloader/single_instance.h"
#include "library/library_settings.h"
#include "platform/paths.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("FvxDownloader");
  using namespace fvx;
  downloader::SingleInstance instance(downloader::InstanceName(
      downloader::kWindowClass, QString::fromStdString(platform::DataHome())));
  if (!instance.TryBecomeFirst()) return 0;

  downloader::DownloaderWindow window(platform::Registry::Default(), library::LibraryFolder());
  QObject::connect(&instance, &downloader::SingleInstance::showRequested, &window, [&window] {
    window.show();
    window.raise();
    window.activateWindow();
  });
  QObject::connect(&window, &downloader::DownloaderWindow::finished, &app, &QApplication::quit,
                   Qt::QueuedConnection);
  window.show();
  return app.exec();
}
