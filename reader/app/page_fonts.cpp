#include "reader/app/page_fonts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <unistd.h>

namespace fvx::reader::app {
namespace {

// Families that pages name and the desktop lacks, each with the generic
// family it stands for.
constexpr struct {
  const char* family;
  const char* generic;
} kAliases[] = {
    {"Microsoft Sans Serif", "sans-serif"},
};

constexpr char kSystemConfig[] = "/etc/fonts/fonts.conf";

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

QString PageFontConfig(const QString& base_config) {
  QString text = QStringLiteral(
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
      "<fontconfig>\n");
  // Before the desktop's rules: they expand the generic family into the
  // desktop's fonts, which then come first for the alias too.
  for (const auto& alias : kAliases) {
    text += QStringLiteral(
                "  <alias binding=\"same\">\n"
                "    <family>%1</family>\n"
                "    <prefer><family>%2</family></prefer>\n"
                "  </alias>\n")
                .arg(Escaped(alias.family), Escaped(alias.generic));
  }
  text += QStringLiteral("  <include ignore_missing=\"yes\">%1</include>\n</fontconfig>\n")
              .arg(Escaped(base_config.isEmpty() ? QString(kSystemConfig) : base_config));
  return text;
}

QString InstallPageFontAlias(const QString& folder) {
  QString base = qEnvironmentVariable("FONTCONFIG_FILE");
  if (!base.isEmpty() && QFileInfo(base).isRelative()) base.clear();
  QString dir = folder;
  if (dir.isEmpty()) {
    dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
      dir = QDir::tempPath() + QStringLiteral("/folivox-%1").arg(getuid());
    }
  }
  if (!QDir().mkpath(dir)) return {};
  const QString path = dir + QStringLiteral("/folivox-fonts.conf");
  // Already ours (a second start, or a child of the first): keep what it
  // was based on.
  if (base == path) return path;
  // Several readers may start at once: each replaces the file whole.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(PageFontConfig(base).toUtf8());
  if (!file.commit()) return {};
  qputenv("FONTCONFIG_FILE", QFile::encodeName(path));
  return path;
}

}  // namespace fvx::reader::app
