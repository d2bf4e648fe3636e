// FvxC: the book compiler's window. A second start hands its file to the
// running window and exits.
#include <unistd.h>

#include <QApplication>
#include <memory>

#include "compiler/app/window/compiler_dialog.h"
#include "compiler/app/window/hand_over_data.h"
#include "imaging/qt_image_library.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "ui/ipc/window_channel.h"

int main(int argc, char** argv) {
  using namespace fvx::compiler::window;
  QApplication app(argc, argv);
  QApplication::setApplicationName("FvxC");

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  const CommandLine line = ParseCommandLine(arguments);

  const qint64 own = ::getpid();
  for (const fvx::ui::PeerWindow& running :
       fvx::ui::FindWindows(QString::fromLatin1(kCompilerTitle))) {
    if (running.pid == own) continue;
    // An empty buffer is refused, but it still brings that window forward.
    const QByteArray buffer =
        line.file.empty() ? QByteArray()
                          : QByteArray::fromStdString(CompilerHandOverBuffer(line.insid, line.file));
    if (fvx::ui::SendCopyData(running, kCompilerHandOver, buffer)) return 0;
  }

  std::unique_ptr<fvx::imaging::ImageLibrary> images = fvx::imaging::CreateQtImageLibrary();
  images->Initialize(fvx::platform::JoinPath(fvx::platform::ProgramDirectory(), "ImagePlugins"));
  CCompilerDlg dialog(fvx::platform::Registry::Default(), images.get());
  dialog.SetCommandLine(line);
  dialog.ListenForHandOvers();
  dialog.show();
  return app.exec();
}
