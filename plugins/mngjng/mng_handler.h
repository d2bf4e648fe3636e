// Reads MNG and JNG pictures with libmng. An animation gives its first frame:
// the book stores still pictures.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>

class QIODevice;

namespace fvx::mngjng {

// "mng", "jng", or empty when the device does not start with either
// signature. Peeks; the device position is unchanged.
QByteArray DetectFormat(QIODevice* device);

// Decodes the first frame of the MNG or JNG read from the device's current
// position. Fails on anything libmng rejects, on a picture that displays no
// frame, and on a frame over 65535 pixels a side or Qt's allocation limit.
bool DecodeFirstFrame(QIODevice* device, QImage* image);

class MngHandler final : public QImageIOHandler {
 public:
  bool canRead() const override;
  bool read(QImage* image) override;
};

}  // namespace fvx::mngjng
