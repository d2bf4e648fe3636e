#include "reader/app/page_view.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>


// Resources of a static library are registered by hand.
static void InitHtmlResources() { Q_INIT_RESOURCE(htmlres); }

namespace fvx::reader::app {
namespace {

constexpr char kScheme[] = "fvxapp";
constexpr char kResourceScheme[] = "res";
constexpr char kPageHost[] = "page";
// The page's own world is left to the book; our scripts run apart from it.
constexpr quint32 kWorld = QWebEngineScript::ApplicationWorld;

// Reports clicks on "fvxapp:" links with their attribute text as written,
// and drags the page while drag mode is on.
constexpr char kPageScript[] = R"JS(
(function () {
  if (window.__fvxInstalled) return;
  window.__fvxInstalled = true;
  window.__fvxDrag = false;
  document.addEventListener('click', function (e) {
    if (e.button !== 0) return;
    var a = e.target && e.target.closest ? e.target.closest('a[href]') : null;
    if (!a) return;
    var href = a.getAttribute('href');
    // The library's home-page list writes its links without the scheme.
    if (!/^\s*(fvxapp:|<)/i.test(href)) return;
    e.preventDefault();
    e.stopPropagation();
    window.location.href = 'fvxapp://page/click?' + encodeURIComponent(href);
  }, true);
  var drag = null;
  document.addEventListener('mousedown', function (e) {
    if (!window.__fvxDrag || e.button !== 0) return;
    if (e.target && e.target.closest && e.target.closest('a[href]')) return;
    drag = {x: e.clientX, y: e.clientY};
    document.documentElement.style.cursor = 'url(res://Folivox3.exe/HTMLRES/HandMove.cur), move';
    e.preventDefault();
  }, true);
  document.addEventListener('mousemove', function (e) {
    if (!drag) return;
    window.scrollBy(drag.x - e.clientX, drag.y - e.clientY);
    drag = {x: e.clientX, y: e.clientY};
  }, true);
  document.addEventListener('mouseup', function () {
    if (!drag) return;
    drag = null;
    document.documentElement.style.cursor = '';
  }, true);
})();
)JS";

// Darkens the page after the book's own style sheets; pictures keep their
// colours.
constexpr char kDarkCss[] =
    "html, body, .fvx_background_style, table, td, th, div, span, font, p, li, center, pre "
    "{ background-color: #1e1f22 !important; background-image: none !important;"
    " color: #dcdcdc !important; border-color: #555 !important; }"
    " a, a * { color: #8ab4f8 !important; } a:visited { color: #c58af9 !important; }"
    " .masterTextStyleHeading { color: #ff8a80 !important; }"
    " .fvxsearchHLFFFF00 { background-color: #8a7a00 !important; }"
    " .fvxsearchHL00FFFF { background-color: #00707a !important; }"
    " .fvxsearchHL7FFF00 { background-color: #3c7a00 !important; }";

QString DarkScript(bool on) {
  return QStringLiteral(
             "(function(){var s=document.getElementById('fvx_dark_theme');"
             "if(%1){if(!s){s=document.createElement('style');s.id='fvx_dark_theme';"
             "s.textContent=%2;(document.head||document.documentElement).appendChild(s);}}"
             "else if(s){s.remove();}})();")
      .arg(on ? "true" : "false", QStringLiteral("'%1'").arg(QString::fromLatin1(kDarkCss)));
}

constexpr char kVisibleTopScript[] = R"JS(
(function () {
  var root = document.body;
  if (!root) return 0;
  var w = document.createTreeWalker(root, NodeFilter.SHOW_COMMENT | NodeFilter.SHOW_TEXT);
  var started = false, count = 0, n;
  function visible(s) { return s.replace(/[ \t\r\n\u00a0]/g, '').length; }
  while ((n = w.nextNode())) {
    if (n.nodeType === 8) {
      if (n.nodeValue.indexOf('fvx_body_data_start') >= 0) started = true;
      continue;
    }
    if (!started) continue;
    var r = document.createRange();
    r.selectNodeContents(n);
    var b = r.getBoundingClientRect();
    if (b.width === 0 && b.height === 0) continue;
    if (b.top >= 0) break;
    if (b.bottom <= 0) { count += visible(n.nodeValue); continue; }
    var lo = 0, hi = n.nodeValue.length;
    while (lo < hi) {
      var mid = (lo + hi) >> 1;
      r.setStart(n, mid);
      r.setEnd(n, mid + 1);
      if (r.getBoundingClientRect().bottom <= 0) lo = mid + 1; else hi = mid;
    }
    count += visible(n.nodeValue.substr(0, lo));
    break;
  }
  return count;
})()
)JS";

QByteArray MimeOfFile(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == "png") return "image/png";
  if (suffix == "jpg" || suffix == "jpeg") return "image/jpeg";
  if (suffix == "cur") return "image/x-icon";
  return "image/bmp";
}

QString JsString(const QString& text) {
  QString out = text;
  out.replace('\\', "\\\\").replace('\'', "\\'").replace('\n', "\\n");
  return QStringLiteral("'%1'").arg(out);
}

}  // namespace

// Serves the page on show, the files it may show and the cursor resources.
class PageSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  QByteArray html;
  QByteArray charset;
  std::set<QString> files;

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    const QUrl url = job->requestUrl();
    const QString path = url.path();
    if (url.scheme() == kResourceScheme || path.contains(QLatin1String("/HTMLRES/"))) {
      const QString name = path.mid(path.lastIndexOf('/') + 1);
      ReplyFile(job, QStringLiteral(":/htmlres/") + name);
      return;
    }
    // The page names its pictures by absolute path, so they arrive as
    // paths of the page's own host.
    if (files.count(path) != 0) {
      ReplyFile(job, path);
      return;
    }
    if (url.host() == QLatin1String(kPageHost)) {
      Reply(job, "text/html;charset=" + charset, html);
      return;
    }
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
  }

 private:
  static void Reply(QWebEngineUrlRequestJob* job, const QByteArray& type, const QByteArray& bytes) {
    auto* buffer = new QBuffer(job);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(type, buffer);
  }
  static void ReplyFile(QWebEngineUrlRequestJob* job, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    Reply(job, MimeOfFile(path), file.readAll());
  }
};

class PageWebPage : public QWebEnginePage {
 public:
  PageWebPage(QWebEngineProfile* profile, PageView* view) : QWebEnginePage(profile, view), view_(view) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool main_frame) override {
    if (url.scheme() == kScheme) {
      if (url.path() == QLatin1String("/click")) {
        // The query is the link text, percent-encoded once by the script.
        Q_EMIT view_->linkClicked(QByteArray::fromPercentEncoding(url.query(QUrl::FullyEncoded).toLatin1()));
        return false;
      }
      if (url.host() == QLatin1String(kPageHost)) return true;
      // A link the script did not see (scripts off): the address as the
      // browser encoded it; the engine undoes whole-address escapes.
      if (type == NavigationTypeLinkClicked) Q_EMIT view_->linkClicked(url.toEncoded());
      return false;
    }
    if (type == NavigationTypeLinkClicked) {
      Q_EMIT view_->externalLinkClicked(url);
      return false;
    }
    return main_frame ? url.scheme() == QLatin1String("about") : true;
  }

  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}

 private:
  PageView* view_;
};

void RegisterPageSchemes() {
  for (const char* name : {kScheme, kResourceScheme}) {
    QWebEngineUrlScheme scheme(name);
    // One host for every page keeps them one site, so the engine reuses its
    // renderer instead of starting one per page.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);
  }
}

PageView::PageView(QWidget* parent) : QWidget(parent) {
  InitHtmlResources();
  profile_ = new QWebEngineProfile(this);  // off the record: pages leave nothing on disk
  handler_ = new PageSchemeHandler(this);
  profile_->installUrlSchemeHandler(kScheme, handler_);
  profile_->installUrlSchemeHandler(kResourceScheme, handler_);
  page_ = new PageWebPage(profile_, this);
  page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  page_->settings()->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
  page_->settings()->setFontFamily(QWebEngineSettings::StandardFont, "sans-serif");
  view_ = new QWebEngineView(this);
  view_->setPage(page_);
  view_->setObjectName("page_view");
  view_->setAccessibleName(tr("Page"));
  view_->setFocusPolicy(Qt::StrongFocus);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  InstallScripts();
  connect(page_, &QWebEnginePage::loadFinished, this, &PageView::OnLoadFinished);
  connect(page_, &QWebEnginePage::scrollPositionChanged, this, [this](const QPointF& at) {
    scroll_.offset = static_cast<uint32_t>(std::max(0.0, at.y()));
  });
  connect(page_, &QWebEnginePage::contentsSizeChanged, this, [this](const QSizeF& size) {
    scroll_.height = static_cast<uint32_t>(std::max(0.0, size.height()));
  });
  connect(page_, &QWebEnginePage::selectionChanged, this, &PageView::selectionChanged);
  page_->setHtml(QString(), QUrl("about:blank"));
}

PageView::~PageView() {
  // The page goes before the profile it was made with.
  view_->setPage(nullptr);
  delete page_;
}

void PageView::InstallScripts() {
  QWebEngineScriptCollection& scripts = page_->scripts();
  scripts.clear();
  QWebEngineScript links;
  links.setName("fvx_links");
  links.setSourceCode(kPageScript);
  links.setInjectionPoint(QWebEngineScript::DocumentCreation);
  links.setWorldId(kWorld);
  scripts.insert(links);
  QWebEngineScript dark;
  dark.setName("fvx_dark");
  dark.setSourceCode(DarkScript(dark_));
  dark.setInjectionPoint(QWebEngineScript::DocumentReady);
  dark.setWorldId(kWorld);
  scripts.insert(dark);
}

void PageView::ShowPage(const QByteArray& html, const QByteArray& charset, const QString& anchor,
                        std::optional<ScrollState> restore) {
  handler_->html = html;
  handler_->charset = charset.isEmpty() ? QByteArray("windows-1252") : charset;
  anchor_ = anchor;
  restore_ = restore;
  loaded_ = false;
  pending_ = true;
  highlight_visible_ = true;
  page_->load(QUrl(QStringLiteral("fvxapp://%1/%2").arg(kPageHost).arg(++serial_)));
}

void PageView::AllowFile(const QString& path) { handler_->files.insert(path); }

const QByteArray& PageView::pageBytes() const { return handler_->html; }

void PageView::OnLoadFinished(bool ok) {
  // A refused navigation (a link click) reports a failed load of its own.
  if (!ok || !pending_ || page_->url().scheme() != kScheme) return;
  pending_ = false;
  QString script = QStringLiteral("window.__fvxDrag=%1;").arg(drag_ ? "true" : "false");
  if (restore_) {
    // The saved position scaled to the page's height now.
    script += QStringLiteral(
                  "(function(){var h=document.documentElement.scrollHeight;"
                  "var y=h>0&&%2>0?Math.floor((%1*h)/%2):0;window.scrollTo(0,y);})();")
                  .arg(restore_->offset)
                  .arg(restore_->height);
  } else if (!anchor_.isEmpty()) {
    script += QStringLiteral(
                  "(function(){var a=document.getElementsByName(%1)[0];"
                  "if(a)a.scrollIntoView();})();")
                  .arg(JsString(anchor_));
  }
  script += QStringLiteral("[window.scrollY, document.documentElement.scrollHeight]");
  page_->runJavaScript(script, kWorld, [this, ok](const QVariant& result) {
    const QVariantList values = result.toList();
    if (values.size() == 2) {
      scroll_.offset = values[0].toUInt();
      scroll_.height = values[1].toUInt();
    }
    loaded_ = ok;
    Q_EMIT pageShown();
  });
}

void PageView::SetHighlightVisible(bool visible) {
  highlight_visible_ = visible;
  page_->runJavaScript(
      QStringLiteral("(function(){for(var i=0;i<document.styleSheets.length;++i){"
                     "var s=document.styleSheets[i];if(s.title==='fvx_search_style_sheet')"
                     "s.disabled=%1;}})();")
          .arg(visible ? "false" : "true"),
      kWorld);
}

ScrollState PageView::scrollState() const { return scroll_; }

void PageView::ScrollTo(uint32_t offset) {
  page_->runJavaScript(QStringLiteral("window.scrollTo(0,%1);").arg(offset), kWorld);
}

void PageView::VisibleTopCount(std::function<void(uint32_t)> done) {
  page_->runJavaScript(kVisibleTopScript, kWorld, [done = std::move(done)](const QVariant& v) {
    done(v.toUInt());
  });
}

bool PageView::hasSelection() const { return page_->hasSelection(); }
QString PageView::selectedText() const { return page_->selectedText(); }
void PageView::CopySelection() { page_->triggerAction(QWebEnginePage::Copy); }

void PageView::SetDragMode(bool on) {
  drag_ = on;
  page_->runJavaScript(QStringLiteral("window.__fvxDrag=%1;").arg(on ? "true" : "false"), kWorld);
}

void PageView::SetDarkTheme(bool on) {
  dark_ = on;
  InstallScripts();
  page_->runJavaScript(DarkScript(on), kWorld);
}

void PageView::SetZoom(double factor) { view_->setZoomFactor(factor); }
double PageView::zoom() const { return view_->zoomFactor(); }

void PageView::FindText(const QString& text, bool backwards) {
  page_->findText(text, backwards ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

bool PageView::PrintToPdf(const QString& path) {
  bool success = false;
  QEventLoop loop;
  auto connection = connect(page_, &QWebEnginePage::pdfPrintingFinished, &loop,
                            [&](const QString&, bool ok) {
                              success = ok;
                              loop.quit();
                            });
  page_->printToPdf(path);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  disconnect(connection);
  return success;
}

QVariant PageView::Evaluate(const QString& script, int timeout_ms) {
  // The answer may come after the wait has given up: it then lands here.
  struct Wait {
    QVariant result;
    bool done = false;
    QEventLoop loop;
  };
  auto wait = std::make_shared<Wait>();
  page_->runJavaScript(script, kWorld, [wait](const QVariant& value) {
    wait->result = value;
    wait->done = true;
    wait->loop.quit();
  });
  if (!wait->done) {
    QTimer::singleShot(timeout_ms, &wait->loop, &QEventLoop::quit);
    wait->loop.exec();
  }
  return wait->result;
}

}  // namespace fvx::reader::app
