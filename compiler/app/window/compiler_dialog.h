// The compiler window "Fvx Compiler": the "Import" and "Options" tabs and
// the buttons "Open", "Import" (start/stop) and "Cancel", plus "Link report".
//
// A compile runs on the user-interface thread: Pump (the engine's
// KeepGoing) lets Qt handle waiting events, so the stop button, the close
// button and hand-overs from other instances are handled re-entrantly while
// the compile is inside its loops; a stop only clears the running flag.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <memory>
#include <string>

#include "compiler/app/book_compiler.h"
#include "compiler/base/message_log.h"
#include "compiler/app/window/hand_over_data.h"

class QPushButton;
class QTabWidget;
class QTimer;

namespace fvx::platform {
class Registry;
}
namespace fvx::imaging {
class ImageLibrary;
}

namespace fvx::ui {
class WindowChannel;
}

namespace fvx::compiler {
class CBookWriter;
class LinkReportBackEnd;
}  // namespace fvx::compiler

namespace fvx::compiler::window {

class CImportPage;
class COptionsPage;
class CMessageArea;

class CCompilerDlg : public QDialog,
                     private MessageSink,
                     private ProgressSink,
                     private OptionsProvider {
  Q_OBJECT
 public:
  // images may be null (pictures then cannot be processed).
  CCompilerDlg(platform::Registry& registry, imaging::ImageLibrary* images,
               QWidget* parent = nullptr);
  ~CCompilerDlg() override;

  // The command line's file becomes the pending file (compiled 100 ms after
  // the window shows) and its identifier the instance identifier.
  void SetCommandLine(const CommandLine& line);
  // Listens for hand-overs from later starts. False when another instance
  // holds the name.
  bool ListenForHandOvers();
  // The answer to a hand-over message from another instance (non-zero when
  // accepted).
  uint32_t ReceiveHandOver(uint32_t id, const QByteArray& buffer);

  // The start/stop button.
  void StartStop();
  // Compiles the source field's file. False when nothing was compiled or the
  // compile failed.
  bool Compile();
  bool IsCompiling() const { return compiling_; }
  // A file dropped on the window: ".txt"/".fv" compile at once.
  bool DropFile(const QString& path);
  // "Open": to the reader that started the compiler, else a new reader.
  bool OpenInReader();
  // Compiles the last compiled source again, reading its links, and writes
  // the link report. False when there is none to write.
  bool WriteLinkReportTo(const QString& path);

  // The reader program "Open" starts when no reader takes the book
  // (default: Folivox3 beside this program).
  void SetReaderProgram(const QString& path) { reader_program_ = path; }

  const std::string& insid() const { return insid_; }
  const QString& last_book() const { return last_book_; }
  bool has_pending_file() const { return pending_; }
  CImportPage* import_page() const { return import_; }
  COptionsPage* options_page() const { return options_; }
  CMessageArea* message_area() const;
  QPushButton* start_button() const { return start_; }
  QPushButton* open_button() const { return open_; }
  QPushButton* link_report_button() const { return link_report_; }
  const CBookCompiler& book_compiler() const { return compiler_; }

 signals:
  void compileFinished(bool ok);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // MessageSink and ProgressSink for the engine.
  void Report(Level level, const std::string& text) override;
  void Progress(ProgressCode code, uint32_t value) override;
  bool Pump() override;
  // OptionsProvider: the options page answers (it exists only after the
  // engine, which takes its links at construction).
  bool ReplaceLeadingUnderscores() override;
  bool FixedSegmentation(uint32_t& size) override;
  bool ShouldSort(uint32_t subject_count) override;
  bool SkipPictures() override;

  void AddWindowLine(const char* colours, const QString& text);
  bool ConfirmCancel();
  void PendingTimerFired();
  void SourceEdited();
  void SaveLinkReport();
  bool AskToSort(uint32_t subject_count);

  platform::Registry& registry_;
  imaging::ImageLibrary* images_;
  CImportPage* import_;
  COptionsPage* options_;
  QTabWidget* tabs_;
  QPushButton* open_;
  QPushButton* start_;
  QPushButton* cancel_;
  QPushButton* link_report_;
  QTimer* pending_timer_;
  ui::WindowChannel* channel_ = nullptr;

  CBookCompiler compiler_;
  std::unique_ptr<CBookWriter> writer_;
  std::unique_ptr<LinkReportBackEnd> link_reporter_;
  LogFile log_;
  QElapsedTimer pump_clock_;
  bool disable_warnings_ = false;
  bool compiling_ = false;
  bool close_after_compile_ = false;
  bool quit_after_compile_ = false;
  bool pending_ = false;
  QString pending_file_;
  std::string insid_;
  QString last_book_;
  QString reader_program_;
  bool collect_links_ = false;
  bool have_link_report_ = false;
  QString last_source_;
};

}  // namespace fvx::compiler::window
