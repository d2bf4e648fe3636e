#include "plugins/mngjng/vjng_plugin.h"

#include <QIODevice>
#include <memory>

#include "plugins/mngjng/mng_handler.h"

namespace fvx::mngjng {

QImageIOPlugin::Capabilities VjngPlugin::capabilities(QIODevice* device,
                                                      const QByteArray& format) const {
  const QByteArray lower = format.toLower();
  if (lower == "mng" || lower == "jng") return CanRead;
  if (!format.isEmpty()) return {};
  if (device != nullptr && device->isReadable() && !DetectFormat(device).isEmpty()) {
    return CanRead;
  }
  return {};
}

QImageIOHandler* VjngPlugin::create(QIODevice* device, const QByteArray& format) const {
  auto handler = std::make_unique<MngHandler>();
  handler->setDevice(device);
  handler->setFormat(format.isEmpty() ? DetectFormat(device) : format.toLower());
  // Qt's factory interface hands the caller ownership of a raw pointer.
  return handler.release();
}

}  // namespace fvx::mngjng
