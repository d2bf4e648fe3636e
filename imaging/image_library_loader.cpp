#include "imaging/image_library_loader.h"

#include <dlfcn.h>

#include <utility>

namespace fvx::imaging {

void ImageLibraryLoader::ModuleCloser::operator()(void* handle) const { dlclose(handle); }

ImageLibraryLoader::ImageLibraryLoader(std::string module_path, std::string plugin_directory)
    : module_path_(std::move(module_path)), plugin_directory_(std::move(plugin_directory)) {}

ImageLibraryLoader::~ImageLibraryLoader() {
  // The library unloads its own plug-ins before its code goes away.
  library_.reset();
}

ImageLibrary* ImageLibraryLoader::Get() {
  if (tried_) return library_.get();
  tried_ = true;
  // RTLD_NODELETE: Qt keeps process-wide state (format registries, exit-time
  // clean-ups) that must not outlive its code, so the module stays mapped
  // until the process ends even after dlclose.
  module_.reset(dlopen(module_path_.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
  if (module_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : "cannot open " + module_path_;
    return nullptr;
  }
  void* symbol = dlsym(module_.get(), kImageLibraryFactory);
  if (symbol == nullptr) {
    error_ = module_path_ + " has no " + kImageLibraryFactory;
    module_.reset();
    return nullptr;
  }
  const auto factory = reinterpret_cast<ImageLibraryFactory>(symbol);
  library_.reset(factory(kImageLibraryAbi));
  if (library_ == nullptr) {
    error_ = module_path_ + " was built for another interface";
    module_.reset();
    return nullptr;
  }
  library_->Initialize(plugin_directory_);
  return library_.get();
}

}  // namespace fvx::imaging
