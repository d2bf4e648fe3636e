// libfvx_imaging.so: the Qt image library behind the loader's one entry point
// (imaging/image_library_loader.h). Everything else in the module is hidden.
#include "imaging/image_library_loader.h"
#include "imaging/qt_image_library.h"

extern "C" __attribute__((visibility("default"))) fvx::imaging::ImageLibrary*
fvx_create_image_library(int abi) {
  if (abi != fvx::imaging::kImageLibraryAbi) return nullptr;
  return fvx::imaging::CreateQtImageLibrary().release();
}
