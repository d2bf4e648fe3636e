// The image-format plug-in "MNG/JNG format": Multiple Network Graphics and
// Jpeg Network Graphics, read with libmng. The image library loads it from
// its ImagePlugins folder; it is not meant for Qt's global plug-in path.
#pragma once

#include <QImageIOPlugin>

namespace fvx::mngjng {

class VjngPlugin final : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "vjng.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
  // The handler's format() tells "mng" or "jng" from the device's content
  // when no format is given.
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

}  // namespace fvx::mngjng
