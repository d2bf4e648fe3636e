// One downloader per data home: the first instance listens on a local
// socket named after its window class; a later start connects, asks it to
// show itself and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace fvx::downloader {

inline constexpr char kWindowClass[] = "Folivox3DownloaderLite";

// The socket name: the window class, the user and a digest of the data
// home, so that test runs with their own data homes do not meet.
QString InstanceName(const QString& window_class, const QString& data_home);

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstance(QString name, QObject* parent = nullptr);

  // True when this is the first instance (it now listens); false when another
  // one runs and has been asked to show itself.
  bool TryBecomeFirst();

 Q_SIGNALS:
  void showRequested();

 private:
  QString name_;
  QLocalServer server_;
};

}  // namespace fvx::downloader
