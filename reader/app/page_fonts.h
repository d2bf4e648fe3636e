// Books ask for the page font "Microsoft Sans Serif", which a Linux desktop
// does not have. The web engine takes a font only when fontconfig names it
// as the first family the request turns into, so an unknown family falls
// back to the engine's default font instead of the desktop's sans-serif.
// A small configuration of our own, ahead of the desktop's rules, makes the
// family an alias of the font the desktop uses for sans-serif.
#pragma once

#include <QString>

namespace fvx::reader::app {

// The family of the font that a generic family ("sans-serif") gives under
// a configuration file (the system's when empty); empty when none.
QString DesktopFamilyOf(const QString& generic, const QString& base_config);

// The configuration text: the alias to the desktop's sans-serif family
// (empty: only to the generic family), then the configuration that applied
// before (base_config, a file path; the system's when empty).
QString PageFontConfig(const QString& base_config, const QString& desktop_sans);

// Writes the configuration into folder (created; the runtime folder when
// empty) and points FONTCONFIG_FILE at it, so this process and the web
// engine's helpers read it. Call before the QApplication exists. Returns the
// file written, or an empty string when nothing could be written (the
// desktop's configuration then stays as it was).
QString InstallPageFontAlias(const QString& folder = {});

}  // namespace fvx::reader::app
