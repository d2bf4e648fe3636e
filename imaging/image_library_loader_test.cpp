#include "imaging/image_library_loader.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fvx::imaging {
namespace {

TEST(ImageLibraryLoaderTest, WithoutTheModuleThereIsNoLibraryAndTheReasonIsKept) {
  ImageLibraryLoader loader("/nonexistent/" + std::string(kImagingModuleName), "");
  EXPECT_EQ(loader.Get(), nullptr);
  EXPECT_FALSE(loader.error().empty());
  EXPECT_EQ(loader.Get(), nullptr);
}

TEST(ImageLibraryLoaderTest, AFileThatIsNoModuleIsRefused) {
  ImageLibraryLoader loader(FVX_SOURCE_DIR "/imaging/image_library.h", "");
  EXPECT_EQ(loader.Get(), nullptr);
  EXPECT_FALSE(loader.error().empty());
}

#ifdef FVX_IMAGING_MODULE
// This program links no Qt: everything below comes from the module.
TEST(ImageLibraryLoaderTest, TheModuleDecodesPicturesWithItsPlugins) {
  ImageLibraryLoader loader(FVX_IMAGING_MODULE, FVX_PLUGIN_DIR);
  ImageLibrary* library = loader.Get();
  ASSERT_NE(library, nullptr) << loader.error();
  EXPECT_TRUE(loader.error().empty());
  EXPECT_EQ(loader.Get(), library);
  const std::vector<FormatInfo> formats = library->ReadableFormats();
  EXPECT_TRUE(std::any_of(formats.begin(), formats.end(),
                          [](const FormatInfo& f) { return f.name == "mng"; }));
  for (const char* name : {"earth.png", "comet.mng"}) {
    std::unique_ptr<Bitmap> bitmap;
    ASSERT_EQ(library->Load(FVX_SOURCE_DIR "/examples/pictures/" + std::string(name), &bitmap),
              ImageStatus::kOk)
        << name;
    EXPECT_GT(bitmap->Width(), 0) << name;
  }
}
#endif

}  // namespace
}  // namespace fvx::imaging
