#include "compiler/app/window/compiler_dialog.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "compiler/app/import_options.h"
#include "compiler/app/window/import_page.h"
#include "compiler/app/window/message_area.h"
#include "compiler/app/window/message_lines.h"
#include "compiler/app/window/options_page.h"
#include "compiler/app/window/source_editor.h"
#include "compiler/backend/book_writer.h"
#include "compiler/backend/link_report.h"
#include "compiler/backend/picture_processor.h"
#include "compiler/frontend/source_reader_factory.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "ui/ipc/window_channel.h"
#include "ui/richtext/pp_message_box.h"

namespace fvx::compiler::window {
namespace {

constexpr int kPendingDelayMs = 100;
constexpr qint64 kPumpIntervalMs = 10;
// Message box styles: icon and buttons.
constexpr uint32_t kStyleErrorOk = 16;
constexpr uint32_t kStyleExclamationYesNo = 52;
constexpr uint32_t kStyleQuestionYesNo = 36;

const char kConfirmCancel[] =
    " <h3>Confirm Cancellation.</h3><br><hr><br>Are you sure you want to cancel the compilation?";
const char kNotSorted[] =
    "<h3>File not sorted.</h3><br><hr><br>This file is not sorted correctly for large file "
    "indexing. <br>If you would like it to be sorted now then select <b>Yes</b>. <br>Otherwise "
    "select <b>No</b> and the file will be imported unsorted.";

std::string Local(const QString& text) { return text.toLocal8Bit().toStdString(); }
QString FromLocal(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

CCompilerDlg::CCompilerDlg(platform::Registry& registry, imaging::ImageLibrary* images,
                           QWidget* parent)
    : QDialog(parent),
      registry_(registry),
      images_(images),
      compiler_(this, this, this) {
  setWindowTitle(QString::fromLatin1(kCompilerTitle));
  setAcceptDrops(true);
  setSizeGripEnabled(true);

  tabs_ = new QTabWidget(this);
  import_ = new CImportPage(tabs_);
  options_ = new COptionsPage(registry_, tabs_);
  options_->SetSortQuestion([this](uint32_t subjects) { return AskToSort(subjects); });
  tabs_->addTab(import_, tr("Import"));
  tabs_->addTab(options_, tr("Options"));

  open_ = new QPushButton(tr("Open"), this);
  open_->setObjectName("135");
  start_ = new QPushButton(tr("Import"), this);
  start_->setObjectName("136");
  start_->setDefault(true);
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName("2");
  link_report_ = new QPushButton(tr("Link report"), this);
  link_report_->setObjectName("linkreport");
  link_report_->setToolTip(tr("Compile once more and save a page of the links that point "
                              "nowhere, the ambiguous ones and what links to each subject"));
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(link_report_);
  buttons->addStretch();
  buttons->addWidget(open_);
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addLayout(buttons);
  resize(720, 520);

  pending_timer_ = new QTimer(this);
  pending_timer_->setSingleShot(true);
  pending_timer_->setInterval(kPendingDelayMs);
  connect(pending_timer_, &QTimer::timeout, this, &CCompilerDlg::PendingTimerFired);
  connect(start_, &QPushButton::clicked, this, &CCompilerDlg::StartStop);
  connect(open_, &QPushButton::clicked, this, [this] { OpenInReader(); });
  connect(cancel_, &QPushButton::clicked, this, &CCompilerDlg::reject);
  connect(link_report_, &QPushButton::clicked, this, &CCompilerDlg::SaveLinkReport);
  connect(import_->source(), &QLineEdit::textChanged, this, &CCompilerDlg::SourceEdited);
  connect(import_->messages(), &CMessageArea::sourceLineActivated, this, [this](int line) {
    OpenSourceAtLine(import_->source()->text(), line);
  });

  BookWriterOptions writer_options;
  writer_options.pictures = MakePictureStage(images_);
  writer_ = std::make_unique<CBookWriter>(std::move(writer_options));
  link_reporter_ = std::make_unique<LinkReportBackEnd>(*writer_);

  import_->source()->setText(FromLocal(LastImportFile(registry_)));
  SourceEdited();
  open_->setEnabled(false);
  link_report_->setEnabled(false);
  reader_program_ = FromLocal(platform::JoinPath(platform::ProgramDirectory(), "Folivox3"));
  qApp->installEventFilter(this);
}

CCompilerDlg::~CCompilerDlg() = default;

CMessageArea* CCompilerDlg::message_area() const { return import_->messages(); }

void CCompilerDlg::SetCommandLine(const CommandLine& line) {
  insid_ = line.insid;
  if (!line.file.empty()) {
    pending_file_ = FromLocal(line.file);
    pending_ = true;
  }
}

bool CCompilerDlg::ListenForHandOvers() {
  if (channel_ == nullptr) {
    channel_ = new ui::WindowChannel(QString::fromLatin1(kCompilerTitle), this);
    channel_->SetHandler(
        [this](const ui::CopyData& data) { return ReceiveHandOver(data.data_id, data.bytes); });
  }
  return channel_->Listen();
}

void CCompilerDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (pending_ && !compiling_) pending_timer_->start();
}

uint32_t CCompilerDlg::ReceiveHandOver(uint32_t id, const QByteArray& buffer) {
  if (id != kCompilerHandOver) return 0;
  // Another start looked for this window: bring it forward.
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  auto hand_over = ParseCompilerHandOver(
      id, std::string_view(buffer.constData(), static_cast<size_t>(buffer.size())));
  if (!hand_over) return 0;
  insid_ = hand_over->insid;
  if (hand_over->file && !compiling_) {
    pending_file_ = FromLocal(*hand_over->file);
    pending_ = true;
    pending_timer_->start();
  }
  return 1;
}

void CCompilerDlg::PendingTimerFired() {
  pending_timer_->stop();
  if (!pending_ || compiling_) return;
  pending_ = false;
  import_->source()->setText(pending_file_);
  Compile();
}

void CCompilerDlg::SourceEdited() {
  if (!compiling_) start_->setEnabled(!import_->source()->text().isEmpty());
}

void CCompilerDlg::StartStop() {
  if (!compiling_) {
    Compile();
    return;
  }
  if (!ConfirmCancel()) return;
  compiler_.Cancel();
  start_->setText(tr("Compile"));
  log_.Close();
}

bool CCompilerDlg::ConfirmCancel() {
  return ui::AppMessageBox(this, QString::fromLatin1(kConfirmCancel), kStyleExclamationYesNo) ==
         ui::kIdYes;
}

bool CCompilerDlg::AskToSort(uint32_t) {
  return ui::AppMessageBox(this, QString::fromLatin1(kNotSorted), kStyleQuestionYesNo) ==
         ui::kIdYes;
}

void CCompilerDlg::reject() {
  if (compiling_) {
    if (!ConfirmCancel()) return;
    compiler_.Cancel();
    log_.Close();
    close_after_compile_ = true;
    return;
  }
  QDialog::reject();
}

void CCompilerDlg::closeEvent(QCloseEvent* event) {
  if (compiling_) {
    event->ignore();
    reject();
    return;
  }
  QDialog::closeEvent(event);
}

void CCompilerDlg::AddWindowLine(const char* colours, const QString& text) {
  import_->messages()->AddLine(ColouredLine(colours, text.toLatin1().toStdString()));
}

bool CCompilerDlg::Compile() {
  if (compiling_) return false;
  const QString source_text = import_->source()->text();
  const std::string source = Local(source_text);
  std::unique_ptr<CSourceReader> reader = MakeSourceReader(source);
  if (SourceExtension(source).empty() || !reader) {
    AddWindowLine("07,00", "Bad file format!");
    return false;
  }
  const std::string output = OutputPathFor(source);
  const ImportOptions options = options_->Current();
  disable_warnings_ = options.disable_warnings;
  if (options.produce_log) {
    const std::string directory =
        options.fixed_log_path ? options.log_path : std::string();
    log_.Open(LogFilePath(source, directory));
  }

  compiling_ = true;
  start_->setText(tr("Stop"));
  start_->setEnabled(true);
  open_->setEnabled(false);
  link_report_->setEnabled(false);
  options_->setEnabled(false);
  StoreLastImportFile(registry_, source);
  import_->StartSpinner();

  // The links are read only for a report, so that a plain compile pays
  // nothing for them.
  const bool with_links = collect_links_;
  compiler_.SetBackEnd(with_links ? static_cast<BookBackEnd*>(link_reporter_.get()) : writer_.get());
  pump_clock_.invalidate();
  const bool ok = compiler_.Compile(*reader, source, output, false);

  have_link_report_ = ok && with_links && link_reporter_->ok();
  if (ok) {
    last_book_ = FromLocal(output);
    last_source_ = source_text;
  }
  open_->setEnabled(ok);
  link_report_->setEnabled(ok);
  import_->StopSpinner();
  import_->progress()->setValue(0);
  log_.Close();
  compiling_ = false;
  start_->setText(tr("Compile"));
  options_->setEnabled(true);
  SourceEdited();
  emit compileFinished(ok);
  if (quit_after_compile_) {
    quit_after_compile_ = false;
    QCoreApplication::quit();
  }
  if (close_after_compile_) {
    close_after_compile_ = false;
    QDialog::reject();
  }
  return ok;
}

bool CCompilerDlg::DropFile(const QString& path) {
  if (compiling_) return false;
  const std::string extension = SourceExtension(Local(path));
  if (extension.empty()) return false;
  import_->source()->setText(path);
  Compile();
  return true;
}

void CCompilerDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CCompilerDlg::dropEvent(QDropEvent* event) {
  // The first dropped file whose name has an extension decides.
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (QFileInfo(path).suffix().isEmpty()) continue;
    event->acceptProposedAction();
    // Compile after the drop has finished, not inside the drag's own loop.
    QTimer::singleShot(0, this, [this, path] { DropFile(path); });
    return;
  }
}

bool CCompilerDlg::OpenInReader() {
  if (last_book_.isEmpty()) return false;
  const uint32_t own = static_cast<uint32_t>(::getpid());
  if (insid_.empty()) insid_ = ProcessInsid(own);
  const std::string book = Local(last_book_);
  // The reader that started this compiler takes it (a reader accepts only
  // its own process id); the first that answers non-zero has it.
  const QByteArray buffer = QByteArray::fromStdString(ReaderHandOverBuffer(insid_, book));
  for (const ui::PeerWindow& reader : ui::FindWindows(QString::fromLatin1(kReaderClass))) {
    if (auto reply = ui::SendCopyData(reader, kReaderHandOver, buffer); reply && *reply != 0) {
      return true;
    }
  }
  insid_ = ProcessInsid(own);
  if (platform::StartDetached(Local(reader_program_), ReaderArguments(book, insid_))) return true;
  ui::AppMessageBox(this,
                    "<h3>The reader could not be started.</h3><br><hr><br>" +
                        reader_program_.toHtmlEscaped(),
                    kStyleErrorOk);
  return false;
}

bool CCompilerDlg::WriteLinkReportTo(const QString& path) {
  if (last_source_.isEmpty() || compiling_) return false;
  // The work database of the last compile is gone: the source is compiled
  // once more, this time reading its links.
  import_->source()->setText(last_source_);
  collect_links_ = true;
  Compile();
  collect_links_ = false;
  const bool ok = have_link_report_ && WriteLinkReport(link_reporter_->report(), Local(path));
  AddWindowLine(ok ? "01,00" : "07,00",
                (ok ? "Link report written to " : "Cannot write the link report ") + path);
  return ok;
}

void CCompilerDlg::SaveLinkReport() {
  QString suggestion = last_book_;
  suggestion.replace(QRegularExpression("\\.fvx$"), "_links.html");
  const QString path = QFileDialog::getSaveFileName(this, tr("Link report"), suggestion,
                                                    tr("Web pages (*.html)"));
  if (path.isEmpty()) return;
  if (WriteLinkReportTo(path)) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CCompilerDlg::Report(Level level, const std::string& text) {
  // Dropped warnings still count: the engine counted them before this.
  if (level == Level::kWarning && disable_warnings_) return;
  log_.Write(level, text);
  import_->messages()->AddLine(AreaLine(level, text));
}

void CCompilerDlg::Progress(ProgressCode code, uint32_t value) {
  QProgressBar* bar = import_->progress();
  switch (code) {
    case ProgressCode::kBegin: bar->setRange(0, static_cast<int>(value)); bar->setValue(0); break;
    case ProgressCode::kPercent: bar->setValue(static_cast<int>(value)); break;
    case ProgressCode::kEnd: bar->setValue(0); break;
  }
}

bool CCompilerDlg::Pump() {
  // The engine asks far more often than a person can notice (per subject in
  // some stages); pumping at most every few milliseconds keeps the window
  // lively at a cost that does not show in the compile time.
  if (!pump_clock_.isValid() || pump_clock_.elapsed() >= kPumpIntervalMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    pump_clock_.start();
  }
  return !quit_after_compile_;
}

bool CCompilerDlg::eventFilter(QObject* watched, QEvent* event) {
  // The application is asked to quit while a compile pumps its events: the
  // compile ends at its next check and the quit is repeated after it.
  if (compiling_ && watched == qApp && event->type() == QEvent::Quit) {
    quit_after_compile_ = true;
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

bool CCompilerDlg::ReplaceLeadingUnderscores() { return options_->ReplaceLeadingUnderscores(); }
bool CCompilerDlg::FixedSegmentation(uint32_t& size) { return options_->FixedSegmentation(size); }
bool CCompilerDlg::ShouldSort(uint32_t subject_count) { return options_->ShouldSort(subject_count); }
bool CCompilerDlg::SkipPictures() { return options_->SkipPictures(); }

}  // namespace fvx::compiler::window
