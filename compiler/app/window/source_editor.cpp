#include "compiler/app/window/source_editor.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace fvx::compiler::window {

std::optional<QStringList> EditorCommand(const QString& command_template, const QString& file,
                                         int line) {
  QStringList words = QProcess::splitCommand(command_template);
  if (words.isEmpty()) return std::nullopt;
  bool named_file = false;
  for (QString& word : words) {
    if (word.contains("%f")) named_file = true;
    word.replace("%f", file).replace("%l", QString::number(line));
  }
  if (!named_file) words.append(file);
  return words;
}

QString KnownEditorTemplate(const QString& desktop_id) {
  struct Known {
    const char* id_part;
    const char* command;
  };
  static constexpr Known kEditors[] = {
      {"gedit", "gedit +%l %f"},         {"TextEditor", "gnome-text-editor +%l %f"},
      {"kate", "kate -l %l %f"},         {"kwrite", "kwrite -l %l %f"},
      {"mousepad", "mousepad --line %l %f"}, {"pluma", "pluma +%l %f"},
      {"xed", "xed +%l %f"},             {"geany", "geany +%l %f"},
      {"code", "code -g %f:%l"},         {"gvim", "gvim +%l %f"},
      {"emacs", "emacs +%l %f"},
  };
  for (const Known& editor : kEditors) {
    if (desktop_id.contains(QLatin1String(editor.id_part), Qt::CaseInsensitive)) {
      return QString::fromLatin1(editor.command);
    }
  }
  return {};
}

bool OpenSourceAtLine(const QString& file, int line) {
  QString command = qEnvironmentVariable("FVX_EDITOR");
  if (command.isEmpty()) {
    QProcess query;
    query.start("xdg-mime", {"query", "default", "text/plain"});
    if (query.waitForFinished(2000)) {
      command = KnownEditorTemplate(QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed());
    }
  }
  if (auto words = EditorCommand(command, file, line)) {
    const QString program = words->takeFirst();
    if (QProcess::startDetached(program, *words)) return true;
  }
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

}  // namespace fvx::compiler::window
