#include "downloader/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QLocalSocket>

namespace fvx::downloader {

QString InstanceName(const QString& window_class, const QString& data_home) {
  QByteArray digest =
      QCryptographicHash::hash(data_home.toUtf8(), QCryptographicHash::Sha1).toHex();
  return window_class + "-" + QString::number(::getuid()) + "-" +
         QString::fromLatin1(digest.left(16));
}

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent), name_(std::move(name)) {
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket->readAll().contains("show")) Q_EMIT showRequested();
      });
    }
  });
}

bool SingleInstance::TryBecomeFirst() {
  QLocalSocket probe;
  probe.connectToServer(name_);
  if (probe.waitForConnected(500)) {
    probe.write("show\n");
    probe.waitForBytesWritten(500);
    probe.disconnectFromServer();
    return false;
  }
  // Nobody answers: a socket file left by a crashed instance is stale.
  QLocalServer::removeServer(name_);
  return server_.listen(name_);
}

}  // namespace fvx::downloader
