// Opening a source file at a line in the desktop's text editor.
//
// FVX_EDITOR, when set, is a command with "%f" for the file and "%l" for the
// line ("kate -l %l %f"). Otherwise the desktop's default editor for plain
// text is started with the line option it understands; an editor that has
// none, or no known editor, opens the file through the desktop.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace fvx::compiler::window {

// The program and arguments for a command template (FVX_EDITOR form).
std::optional<QStringList> EditorCommand(const QString& command_template, const QString& file,
                                         int line);

// The command template for a desktop entry id ("org.gnome.gedit.desktop"),
// or an empty text when the editor is not known to take a line.
QString KnownEditorTemplate(const QString& desktop_id);

bool OpenSourceAtLine(const QString& file, int line);

}  // namespace fvx::compiler::window
