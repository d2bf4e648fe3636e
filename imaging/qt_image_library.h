// The image library built on QtGui's QImage, QImageReader and QImageWriter.
//
// No display is needed. A program may use it with no application object at
// all, or with a QCoreApplication; a QGuiApplication works too, but needs a
// platform plug-in, so a headless program that makes one runs with
// QT_QPA_PLATFORM=offscreen. `fvx compile` creates none.
//
// Built-in formats are those of QtGui and of Qt's own image plug-ins (PNG,
// JPEG, BMP, GIF, …). MNG and JNG come only from an image plug-in in the
// folder given to Initialize (Vjng), never from Qt's global plug-in path, so
// removing the file removes the formats.
//
// Qt keeps the allocation limit for decoded pictures process-wide; Initialize
// and SetPixelLimit set it to match the pixel limit (8 bytes a pixel, at most
// kAllocationLimitMb), and the plug-ins honour the same limit.
#pragma once

#include <memory>

#include "imaging/image_library.h"

namespace fvx::imaging {

inline constexpr int kAllocationLimitMb = 1024;

std::unique_ptr<ImageLibrary> CreateQtImageLibrary();

}  // namespace fvx::imaging
