#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <thread>

#include "ui/ipc/window_channel.h"

namespace fvx::ui {

class WindowChannelTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

  // Sends from another thread (as another process would, blocking) while
  // this thread's event loop serves the channel.
  static std::optional<uint32_t> SendFromThread(const PeerWindow& peer, uint32_t id,
                                                const QByteArray& bytes) {
    std::optional<uint32_t> reply;
    std::atomic<bool> done = false;
    std::thread sender([&] {
      reply = SendCopyData(peer, id, bytes, 3000);
      done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done.load() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    sender.join();
    return reply;
  }

 private slots:
  void initTestCase() { qputenv("FVX_IPC_DIR", dir_.path().toUtf8()); }

  void messageReachesTheHandlerAndReplyComesBack() {
    WindowChannel channel("QuillstoneFolivox3Lite");
    CopyData seen;
    channel.SetHandler([&](const CopyData& data) {
      seen = data;
      return data.bytes.size() == 3 ? 1u : 0u;
    });
    QVERIFY(channel.Listen());
    const std::vector<PeerWindow> peers = FindWindows("QuillstoneFolivox3Lite");
    QCOMPARE(peers.size(), size_t(1));
    QCOMPARE(peers[0].pid, QCoreApplication::applicationPid());

    const QByteArray bytes("a\0b", 3);
    QCOMPARE(SendFromThread(peers[0], FourCc("FVXQ"), bytes), std::optional<uint32_t>(1));
    QCOMPARE(seen.data_id, 0x51585646u);  // "FVXQ" little-endian
    QCOMPARE(seen.bytes, bytes);
    QCOMPARE(seen.sender_pid, QCoreApplication::applicationPid());
  }

  void titlesWithBlanksAndClassesAreFoundApart() {
    WindowChannel by_title("Fvx Compiler");
    WindowChannel by_class("QuillstoneFolivox3Lite");
    QVERIFY(by_title.Listen());
    QVERIFY(by_class.Listen());
    QCOMPARE(FindWindows("Fvx Compiler").size(), size_t(1));
    QCOMPARE(FindWindows("Fvx").size(), size_t(0));
    QCOMPARE(FindWindows("QuillstoneFolivox3Lite").size(), size_t(1));
    QCOMPARE(FindWindows("Folivox3DownloaderLite").size(), size_t(0));
  }

  void socketsOfGoneProcessesAreSkippedAndRemoved() {
    // pid 0x7FFFFFF0 is above any pid limit, so no process has it.
    const QString stale = SocketPath("QuillstoneFolivox3Lite", 0x7FFFFFF0);
    QFile file(stale);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(FindWindows("QuillstoneFolivox3Lite").empty());
    QVERIFY(!QFile::exists(stale));
  }

  void unreachableWindowGivesNoReply() {
    PeerWindow nobody{"x", 1, dir_.filePath("nobody.1")};
    QCOMPARE(SendCopyData(nobody, 1, "x", 200), std::nullopt);
  }

  void handlerlessChannelAnswersZero() {
    WindowChannel channel("Silent");
    QVERIFY(channel.Listen());
    const auto peers = FindWindows("Silent");
    QCOMPARE(peers.size(), size_t(1));
    QCOMPARE(SendFromThread(peers[0], 5, QByteArray()), std::optional<uint32_t>(0));
  }
};

}  // namespace fvx::ui

QTEST_GUILESS_MAIN(fvx::ui::WindowChannelTest)
#include "window_channel_test.moc"
