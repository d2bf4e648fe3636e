#include "ui/ipc/window_channel.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QtEndian>
#include <algorithm>
#include <cerrno>

namespace fvx::ui {
namespace {

constexpr int kHeaderBytes = 12;

// Names become file names: letters, digits, "-" and "_" stay, the rest is
// written as "%XX" so that titles with blanks or slashes stay one name.
QString EscapeName(const QString& name) {
  QString out;
  for (const char c : name.toUtf8()) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_') {
      out += QChar(byte);
    } else {
      out += QStringLiteral("%%%1").arg(byte, 2, 16, QChar('0')).toUpper();
    }
  }
  return out;
}

bool ProcessAlive(qint64 pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QByteArray U32(uint32_t value) {
  QByteArray bytes(4, '\0');
  qToLittleEndian(value, bytes.data());
  return bytes;
}

}  // namespace

uint32_t FourCc(const char (&text)[5]) {
  return qFromLittleEndian<uint32_t>(text);
}

QString SocketFolder() {
  QString folder = qEnvironmentVariable("FVX_IPC_DIR");
  if (folder.isEmpty()) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    folder = !runtime.isEmpty() && QFileInfo(runtime).isDir()
                 ? runtime + QStringLiteral("/folivox")
                 : QDir::tempPath() + QStringLiteral("/folivox-%1").arg(::getuid());
  }
  QDir().mkpath(folder);
  QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return folder;
}

QString SocketPath(const QString& name, qint64 pid) {
  return SocketFolder() + QLatin1Char('/') + EscapeName(name) + QLatin1Char('.') +
         QString::number(pid);
}

WindowChannel::WindowChannel(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)), server_(new QLocalServer(this)) {
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &WindowChannel::OnNewConnection);
}

WindowChannel::~WindowChannel() {
  server_->close();  // removes the socket file
}

QString WindowChannel::socketPath() const {
  return SocketPath(name_, QCoreApplication::applicationPid());
}

bool WindowChannel::Listen() {
  const QString path = socketPath();
  QLocalServer::removeServer(path);
  return server_->listen(path);
}

void WindowChannel::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    if (socket->bytesAvailable() > 0) OnReadyRead(socket);
  }
}

void WindowChannel::OnReadyRead(QLocalSocket* socket) {
  if (socket->property("fvx_done").toBool()) return;
  if (socket->bytesAvailable() < kHeaderBytes) return;
  const QByteArray header = socket->peek(kHeaderBytes);
  const uint32_t length = qFromLittleEndian<uint32_t>(header.constData() + 8);
  socket->setProperty("fvx_done", length > kMaxMessageBytes);
  if (length > kMaxMessageBytes) {
    socket->write(U32(0));
    socket->disconnectFromServer();
    return;
  }
  if (socket->bytesAvailable() < kHeaderBytes + qint64(length)) return;
  socket->setProperty("fvx_done", true);
  socket->read(kHeaderBytes);
  CopyData data;
  data.sender_pid = qFromLittleEndian<uint32_t>(header.constData());
  data.data_id = qFromLittleEndian<uint32_t>(header.constData() + 4);
  data.bytes = socket->read(length);
  const uint32_t reply = handler_ ? handler_(data) : 0;
  socket->write(U32(reply));
  socket->flush();
  socket->disconnectFromServer();
}

std::vector<PeerWindow> FindWindows(const QString& name) {
  std::vector<PeerWindow> found;
  const QString prefix = EscapeName(name) + QLatin1Char('.');
  const QDir folder(SocketFolder());
  for (const QString& file : folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
    if (!file.startsWith(prefix)) continue;
    bool ok = false;
    const qint64 pid = file.mid(prefix.size()).toLongLong(&ok);
    if (!ok) continue;
    const QString path = folder.filePath(file);
    if (!ProcessAlive(pid)) {
      QFile::remove(path);
      continue;
    }
    found.push_back({name, pid, path});
  }
  std::sort(found.begin(), found.end(),
            [](const PeerWindow& a, const PeerWindow& b) { return a.pid < b.pid; });
  return found;
}

std::optional<uint32_t> SendCopyData(const PeerWindow& window, uint32_t data_id,
                                     const QByteArray& bytes, int timeout_ms) {
  if (bytes.size() > qsizetype(WindowChannel::kMaxMessageBytes)) return std::nullopt;
  QLocalSocket socket;
  socket.connectToServer(window.socket_path);
  if (!socket.waitForConnected(timeout_ms)) return std::nullopt;
  QByteArray message = U32(static_cast<uint32_t>(QCoreApplication::applicationPid()));
  message += U32(data_id);
  message += U32(static_cast<uint32_t>(bytes.size()));
  message += bytes;
  socket.write(message);
  if (!socket.waitForBytesWritten(timeout_ms)) return std::nullopt;
  while (socket.bytesAvailable() < 4) {
    if (!socket.waitForReadyRead(timeout_ms)) return std::nullopt;
  }
  return qFromLittleEndian<uint32_t>(socket.read(4).constData());
}

}  // namespace fvx::ui
