// Hand-over between the programs' windows over local sockets, in place of
// finding a window by class or title and sending it a copy-data message.
//
// A window listens under a socket named after its window class (or title)
// and its process id, in one folder per user:
//
//   folder  := $FVX_IPC_DIR | $XDG_RUNTIME_DIR "/folivox" | <temp> "/folivox-" uid
//   socket  := folder "/" escaped-name "." pid
//   message := u32 sender-pid, u32 data-id, u32 length, length bytes  (little-endian)
//   reply   := u32                                                    (little-endian)
//
// Usage, receiving side (a main window):
//   auto* channel = new fvx::ui::WindowChannel("QuillstoneFolivox3Lite", this);
//   channel->SetHandler([this](const fvx::ui::CopyData& d) -> uint32_t { ... return 1; });
//   channel->Listen();
// Sending side (any thread; blocks up to the timeout, like SendMessage):
//   for (const fvx::ui::PeerWindow& w : fvx::ui::FindWindows("QuillstoneFolivox3Lite"))
//     if (auto reply = fvx::ui::SendCopyData(w, fvx::ui::FourCc("FVXQ"), bytes)) ...
//
// Sockets of processes that are gone are skipped and removed by FindWindows.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace fvx::ui {

struct CopyData {
  uint32_t data_id = 0;
  QByteArray bytes;
  qint64 sender_pid = 0;  // as the sender states it
};

// The four ASCII bytes read as a little-endian 32-bit number ("FVXQ").
uint32_t FourCc(const char (&text)[5]);

// The folder holding every window's socket (created on demand).
QString SocketFolder();
// The socket path a window of this class or title in process pid listens at.
QString SocketPath(const QString& name, qint64 pid);

class WindowChannel : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<uint32_t(const CopyData&)>;

  // name: the window class or title that senders look for.
  explicit WindowChannel(QString name, QObject* parent = nullptr);
  ~WindowChannel() override;

  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  // Starts listening; a stale socket of the same path is replaced.
  bool Listen();
  QString socketPath() const;
  const QString& name() const { return name_; }

  // A message larger than this is refused (answer 0) unread.
  static constexpr uint32_t kMaxMessageBytes = 16u << 20;

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);

  QString name_;
  Handler handler_;
  QLocalServer* server_ = nullptr;
};

struct PeerWindow {
  QString name;
  qint64 pid = 0;
  QString socket_path;
};

// Every live window listening under this class or title, oldest pid first;
// this process's own window is included (callers skip it when they must).
std::vector<PeerWindow> FindWindows(const QString& name);

// Sends one message and waits for the reply; nullopt when the window could
// not be reached or did not answer in time.
std::optional<uint32_t> SendCopyData(const PeerWindow& window, uint32_t data_id,
                                     const QByteArray& bytes, int timeout_ms = 5000);

}  // namespace fvx::ui
