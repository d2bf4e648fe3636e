#include "reader/app/page_fonts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <memory>

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

QString DesktopFamilyOf(const QString& generic, const QString& base_config) {
  // A configuration of our own: the process's default one must first be
  // loaded after FONTCONFIG_FILE names ours.
  struct ConfigDestroyer {
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
  };
  struct PatternDestroyer {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
  };
  std::unique_ptr<FcConfig, ConfigDestroyer> config(FcConfigCreate());
  if (!config) return {};
  const QByteArray file = QFile::encodeName(base_config);
  if (!FcConfigParseAndLoad(config.get(),
                            base_config.isEmpty()
                                ? nullptr
                                : reinterpret_cast<const FcChar8*>(file.constData()),
                            FcFalse) ||
      !FcConfigBuildFonts(config.get())) {
    return {};
  }
  std::unique_ptr<FcPattern, PatternDestroyer> pattern(
      FcNameParse(reinterpret_cast<const FcChar8*>(generic.toUtf8().constData())));
  if (!pattern) return {};
  FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result;
  std::unique_ptr<FcPattern, PatternDestroyer> match(
      FcFontMatch(config.get(), pattern.get(), &result));
  FcChar8* family = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch) return {};
  return QString::fromUtf8(reinterpret_cast<const char*>(family));
}

QString PageFontConfig(const QString& base_config, const QString& desktop_sans) {
  QString text = QStringLiteral(
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
      "<fontconfig>\n");
  // Before the desktop's rules. The web engine takes a font only when it is
  // the first family the request turns into, so the desktop's font itself
  // leads; the generic family after it covers a font removed later.
  for (const auto& alias : kAliases) {
    QString prefer;
    if (!desktop_sans.isEmpty()) {
      prefer += QStringLiteral("<family>%1</family>").arg(Escaped(desktop_sans));
    }
    prefer += QStringLiteral("<family>%1</family>").arg(Escaped(alias.generic));
    text += QStringLiteral(
                "  <alias binding=\"same\">\n"
                "    <family>%1</family>\n"
                "    <prefer>%2</prefer>\n"
                "  </alias>\n")
                .arg(Escaped(alias.family), prefer);
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
  // A shared temporary folder: only one of our own that others cannot
  // write into, or another user could change the fonts pages get.
  if (QFileInfo(dir).ownerId() != getuid()) return {};
  if (folder.isEmpty() && qEnvironmentVariable("XDG_RUNTIME_DIR") != dir) {
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  const QString path = dir + QStringLiteral("/folivox-fonts.conf");
  // Already ours (a second start, or a child of the first): keep what it
  // was based on.
  if (base == path) return path;
  // Several readers may start at once: each replaces the file whole.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(PageFontConfig(base, DesktopFamilyOf(QStringLiteral("sans-serif"), base)).toUtf8());
  if (!file.commit()) return {};
  qputenv("FONTCONFIG_FILE", QFile::encodeName(path));
  return path;
}

}  // namespace fvx::reader::app
