// The image library as a shared library opened on first use.
//
// The library lives on QtGui, and loading Qt costs a program dozens of shared
// libraries at start. A program that handles pictures only now and then (fvx:
// one compile command among many reader commands) links this loader instead,
// which is plain C++, and opens libfvx_imaging.so from beside itself only when
// a compile has pictures. Without the module the program works on and gets no
// library, exactly as a build without Qt does.
//
// The module exports one C function, kImageLibraryFactory, of type
// ImageLibraryFactory: given kImageLibraryAbi it returns a new library the
// caller owns, and null for any other number, so that a module left over from
// another build is refused rather than called through a different interface.
#pragma once

#include <memory>
#include <string>

#include "imaging/image_library.h"

namespace fvx::imaging {

inline constexpr char kImagingModuleName[] = "libfvx_imaging.so";
inline constexpr char kImageLibraryFactory[] = "fvx_create_image_library";
// Raise whenever image_library.h changes in a way that breaks its layout.
inline constexpr int kImageLibraryAbi = 1;
extern "C" {
using ImageLibraryFactory = ImageLibrary* (*)(int abi);
}

class ImageLibraryLoader {
 public:
  // Nothing is opened yet. plugin_directory is handed to Initialize.
  ImageLibraryLoader(std::string module_path, std::string plugin_directory);
  ~ImageLibraryLoader();
  ImageLibraryLoader(const ImageLibraryLoader&) = delete;
  ImageLibraryLoader& operator=(const ImageLibraryLoader&) = delete;

  // The initialised library, or null when the module is missing or refuses.
  // Only the first call tries to open the module; later calls give the same
  // answer. The library lives as long as the loader.
  ImageLibrary* Get();
  // Why the module could not be used; empty while nothing failed.
  const std::string& error() const { return error_; }

 private:
  struct ModuleCloser {
    void operator()(void* handle) const;
  };

  std::string module_path_;
  std::string plugin_directory_;
  bool tried_ = false;
  std::string error_;
  std::unique_ptr<void, ModuleCloser> module_;
  // After module_: the library's code is in the module, so it goes first.
  std::unique_ptr<ImageLibrary> library_;
};

}  // namespace fvx::imaging
