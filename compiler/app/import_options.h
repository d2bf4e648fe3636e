// The compiler's stored options (the "Options" page's values) and the
// options provider that answers the compile from them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "compiler/base/interfaces.h"
#include "platform/registry.h"

namespace fvx::compiler {

inline constexpr char kImportOptionsKey[] = "Software\\Calderwick Ltd.\\Folivox\\Fvx\\ImportOptions";

struct ImportOptions {
  static constexpr uint32_t kSortAutomatically = 2;
  static constexpr uint32_t kSortNever = 1;
  static constexpr uint32_t kSortAsk = 3;
  static constexpr uint32_t kMinSegmentation = 16;
  static constexpr uint32_t kMaxSegmentation = 8000;

  bool produce_log = true;
  bool fixed_log_path = false;
  std::string log_path;
  bool skip_pictures = false;
  bool fixed_segmentation = false;
  uint32_t segmentation_size = 1024;  // kept within 16..8000
  uint32_t sort_type = kSortAsk;
  bool disable_warnings = false;
};

// Reads every value under kImportOptionsKey (HKEY_LOCAL_MACHINE); a number
// that does not exist is stored with its default. SegmentationSize is
// clamped to 16..8000.
ImportOptions LoadImportOptions(platform::Registry& registry);
// Writes every value (not LastImportFile).
bool SaveImportOptions(platform::Registry& registry, const ImportOptions& options);
bool StoreLastImportFile(platform::Registry& registry, const std::string& source_path);
std::string LastImportFile(platform::Registry& registry);

// Answers the compile from a set of options. ask_sort is called when the
// sort type is "ask" and the book has more than 100 subjects; it returns the
// user's answer (a missing function answers no).
class ImportOptionsProvider : public OptionsProvider {
 public:
  ImportOptionsProvider(ImportOptions options, bool replace_leading_underscores,
                        std::function<bool(uint32_t subject_count)> ask_sort)
      : options_(std::move(options)),
        replace_underscores_(replace_leading_underscores),
        ask_sort_(std::move(ask_sort)) {}

  bool ReplaceLeadingUnderscores() override { return replace_underscores_; }
  bool FixedSegmentation(uint32_t& size) override;
  bool ShouldSort(uint32_t subject_count) override;
  bool SkipPictures() override { return options_.skip_pictures; }
  const ImportOptions& options() const { return options_; }

 private:
  ImportOptions options_;
  bool replace_underscores_;
  std::function<bool(uint32_t)> ask_sort_;
};

}  // namespace fvx::compiler
