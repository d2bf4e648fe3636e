// The window's plain logic, without a web view: the compiler's hand-over
// message, the character set rule, the recent-file list, the command line,
// the page font alias.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fontconfig/fontconfig.h>

#include "platform/registry.h"
#include "reader/app/book_text.h"
#include "reader/app/hand_over.h"
#include "reader/app/main_window.h"
#include "reader/app/page_fonts.h"
#include "reader/app/recent_files.h"

namespace fvx::reader::app {

class WindowLogicTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void handOverLayoutAndPid() {
    const std::string good = BuildHandOver(0x1234, "/b/Atlas.fvx", "Rivers");
    QCOMPARE(QByteArray::fromStdString(good), QByteArray("00001234\0/b/Atlas.fvx\0Rivers\0", 29));
    auto parsed = ParseHandOver(kHandOverDataId, good, 0x1234, 99);
    QVERIFY(parsed.has_value());
    QCOMPARE(parsed->path, std::string("/b/Atlas.fvx"));
    QCOMPARE(parsed->heading, std::string("Rivers"));
    // Without a heading the book opens at its usual page.
    parsed = ParseHandOver(kHandOverDataId, BuildHandOver(0x1234, "a.fvx", ""), 0x1234, 99);
    QVERIFY(parsed && parsed->heading.empty());

    QVERIFY(!ParseHandOver(kHandOverDataId, good, 0x1235, 99));  // another reader's
    QVERIFY(!ParseHandOver(kHandOverDataId, good, 0x1234, 0x1234));  // from itself
    QVERIFY(!ParseHandOver(0x43585646, good, 0x1234, 99));  // "FVXC"
    // Every cut of the message short of the path's NUL and one more byte fails.
    for (size_t n = 0; n <= 9 + 12 + 1; ++n) {
      QVERIFY2(!ParseHandOver(kHandOverDataId, good.substr(0, n), 0x1234, 99),
               qPrintable(QString::number(n)));
    }
    QVERIFY(ParseHandOver(kHandOverDataId, good.substr(0, 9 + 12 + 2), 0x1234, 99));
    QVERIFY(!ParseHandOver(kHandOverDataId, std::string("00001234\0\0x\0", 12), 0x1234, 99));
    QCOMPARE(PidText(0xABCDEF), std::string("00ABCDEF"));
  }

  void charsetRule() {
    QCOMPARE(DecodeBookText("caf\xE9 \x80", "windows-1252"), QString::fromUtf8("café €"));
    QCOMPARE(DecodeBookText("caf\xC3\xA9", "UTF-8"), QString::fromUtf8("café"));
    QCOMPARE(EncodeBookText(QString::fromUtf8("café €"), "windows-1252"), QByteArray("caf\xE9 \x80"));
    QCOMPARE(EncodeBookText(QString::fromUtf8("café"), "UTF-8"), QByteArray("caf\xC3\xA9"));
    // An unknown name falls back to Windows-1252 rather than losing text.
    QCOMPARE(DecodeBookText("\xE9", "no-such-charset"), QString::fromUtf8("é"));
  }

  void recentFilesKeepEightWithTheirCase() {
    QTemporaryDir dir;
    platform::Registry registry(dir.filePath("r.db").toStdString());
    RecentFiles recent(&registry);
    for (int i = 0; i < 10; ++i) recent.Add(QStringLiteral("/b/Book%1.fvx").arg(i));
    recent.Add("/b/Book5.fvx");
    recent.Add("/b/book5.fvx");
    RecentFiles loaded(&registry);
    loaded.Load();
    QCOMPARE(loaded.paths().size(), 8);
    QCOMPARE(loaded.paths()[0], QStringLiteral("/b/book5.fvx"));
    QCOMPARE(loaded.paths()[1], QStringLiteral("/b/Book5.fvx"));
    QCOMPARE(loaded.paths()[2], QStringLiteral("/b/Book9.fvx"));
    QVERIFY(!loaded.paths().contains("/b/Book2.fvx"));
  }

  // The web engine uses a font only when the first family a request turns
  // into is the family of the font matched: with the alias that holds for
  // "Microsoft Sans Serif" and the desktop's sans-serif font; without it
  // the request keeps its own name first and the engine falls back.
  void pageFontIsTheDesktopsSansSerif() {
    QTemporaryDir dir;
    const QByteArray before = qgetenv("FONTCONFIG_FILE");
    qunsetenv("FONTCONFIG_FILE");
    const QString path = InstallPageFontAlias(dir.path());
    QVERIFY(!path.isEmpty());
    QCOMPARE(qEnvironmentVariable("FONTCONFIG_FILE"), path);
    QVERIFY(PageFontConfig({}, "Sans X").contains("<include ignore_missing=\"yes\">/etc/fonts/fonts.conf"));
    // A second start (FONTCONFIG_FILE already ours) leaves the file as it is.
    QCOMPARE(InstallPageFontAlias(dir.path()), path);
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray config = written.readAll();
    QVERIFY(config.contains("<family>Microsoft Sans Serif</family>"));
    QVERIFY(config.contains(QStringLiteral("<prefer><family>%1</family><family>sans-serif</family>")
                                .arg(DesktopFamilyOf("sans-serif", {}))
                                .toUtf8()));
    QVERIFY(!config.contains(path.toUtf8()));  // never includes itself

    struct Answer {
      QString first;    // the first family after the rules
      QString matched;  // the family of the font chosen
    };
    auto ask = [](FcConfig* config, const char* family) {
      FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
      FcConfigSubstitute(config, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      Answer answer;
      FcChar8* text = nullptr;
      if (FcPatternGetString(pattern, FC_FAMILY, 0, &text) == FcResultMatch) {
        answer.first = QString::fromUtf8(reinterpret_cast<const char*>(text));
      }
      FcResult result;
      FcPattern* match = FcFontMatch(config, pattern, &result);
      if (match && FcPatternGetString(match, FC_FAMILY, 0, &text) == FcResultMatch) {
        answer.matched = QString::fromUtf8(reinterpret_cast<const char*>(text));
      }
      if (match) FcPatternDestroy(match);
      FcPatternDestroy(pattern);
      return answer;
    };
    auto load = [](const QString& file) {
      FcConfig* config = FcConfigCreate();
      FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(file.toUtf8().constData()),
                           FcTrue);
      FcConfigBuildFonts(config);
      return config;
    };
    FcConfig* ours = load(path);
    const Answer sans = ask(ours, "sans-serif");
    const Answer page = ask(ours, "Microsoft Sans Serif");
    QVERIFY(!sans.matched.isEmpty());
    QCOMPARE(page.first, sans.matched);
    QCOMPARE(page.matched, sans.matched);
    FcConfigDestroy(ours);
    FcConfig* desktop = load("/etc/fonts/fonts.conf");
    QCOMPARE(ask(desktop, "Microsoft Sans Serif").first, QStringLiteral("Microsoft Sans Serif"));
    FcConfigDestroy(desktop);

    if (before.isNull()) {
      qunsetenv("FONTCONFIG_FILE");
    } else {
      qputenv("FONTCONFIG_FILE", before);
    }
  }

  void commandLine() {
    QCOMPARE(BookPathFromArguments({"/Home/A.FVX"}), QStringLiteral("/Home/A.FVX"));
    bool no_logo = false;
    QCOMPARE(BookPathFromArguments({"-NoLogo", "b.fvx", "c.fvx"}, &no_logo), QStringLiteral("b.fvx"));
    QVERIFY(no_logo);
    QCOMPARE(BookPathFromArguments({"/embedding"}), QString());
  }
};

}  // namespace fvx::reader::app

QTEST_GUILESS_MAIN(fvx::reader::app::WindowLogicTest)
#include "window_logic_test.moc"
