// Stands in for the reader (and for an editor) in the window's tests.
//
//   reader_stand_in --listen FILE   a reader window: takes an "FVXQ" hand-over
//                                   whose identifier is its own process id,
//                                   writes the buffer to FILE and exits
//   reader_stand_in ARGS...         a started program: writes its arguments,
//                                   one a line, to $FVX_STAND_IN_OUT
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "compiler/app/window/hand_over_data.h"
#include "ui/ipc/window_channel.h"

int main(int argc, char** argv) {
  using namespace fvx::compiler::window;
  if (argc == 3 && std::string(argv[1]) == "--listen") {
    QCoreApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]);
    fvx::ui::WindowChannel channel(QString::fromLatin1(kReaderClass));
    const QByteArray own = QByteArray::fromStdString(ProcessInsid(static_cast<uint32_t>(::getpid())));
    channel.SetHandler([&](const fvx::ui::CopyData& data) -> uint32_t {
      if (data.data_id != kReaderHandOver || !data.bytes.startsWith(own + '\0')) return 0;
      QFile file(out);
      if (!file.open(QIODevice::WriteOnly)) return 0;
      file.write(data.bytes);
      file.close();
      QTimer::singleShot(50, &app, &QCoreApplication::quit);
      return 1;
    });
    if (!channel.Listen()) return 1;
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);  // never outlive the test
    return app.exec();
  }
  const char* out = std::getenv("FVX_STAND_IN_OUT");
  if (out == nullptr) return 2;
  std::FILE* file = std::fopen(out, "wb");
  if (file == nullptr) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
  std::fclose(file);
  return 0;
}
