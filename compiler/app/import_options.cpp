#include "compiler/app/import_options.h"

#include <algorithm>

namespace fvx::compiler {
namespace {

constexpr auto kRoot = platform::RegistryRoot::kLocalMachine;

uint32_t ReadNumber(platform::Registry& registry, const char* name, uint32_t fallback) {
  if (auto value = registry.QueryDword(kRoot, kImportOptionsKey, name)) return *value;
  registry.WriteDword(kRoot, kImportOptionsKey, name, fallback);
  return fallback;
}

}  // namespace

ImportOptions LoadImportOptions(platform::Registry& registry) {
  ImportOptions defaults;
  ImportOptions o;
  o.produce_log = ReadNumber(registry, "ProduceLog", defaults.produce_log) != 0;
  o.fixed_log_path = ReadNumber(registry, "FixedLogPath", defaults.fixed_log_path) != 0;
  o.log_path = registry.ReadString(kRoot, kImportOptionsKey, "LogPath");
  o.skip_pictures = ReadNumber(registry, "SkipPictures", defaults.skip_pictures) != 0;
  o.fixed_segmentation =
      ReadNumber(registry, "FixedSegmentation", defaults.fixed_segmentation) != 0;
  o.segmentation_size = std::clamp(
      ReadNumber(registry, "SegmentationSize", defaults.segmentation_size),
      ImportOptions::kMinSegmentation, ImportOptions::kMaxSegmentation);
  o.sort_type = ReadNumber(registry, "SortType", defaults.sort_type);
  o.disable_warnings = ReadNumber(registry, "DisableWarnings", defaults.disable_warnings) != 0;
  return o;
}

bool SaveImportOptions(platform::Registry& registry, const ImportOptions& o) {
  bool ok = registry.WriteDword(kRoot, kImportOptionsKey, "ProduceLog", o.produce_log);
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "FixedLogPath", o.fixed_log_path) && ok;
  ok = registry.WriteString(kRoot, kImportOptionsKey, "LogPath", o.log_path) && ok;
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "SkipPictures", o.skip_pictures) && ok;
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "FixedSegmentation", o.fixed_segmentation) &&
       ok;
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "SegmentationSize", o.segmentation_size) &&
       ok;
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "SortType", o.sort_type) && ok;
  ok = registry.WriteDword(kRoot, kImportOptionsKey, "DisableWarnings", o.disable_warnings) && ok;
  return ok;
}

bool StoreLastImportFile(platform::Registry& registry, const std::string& source_path) {
  return registry.WriteString(kRoot, kImportOptionsKey, "LastImportFile", source_path);
}

std::string LastImportFile(platform::Registry& registry) {
  return registry.ReadString(kRoot, kImportOptionsKey, "LastImportFile");
}

bool ImportOptionsProvider::FixedSegmentation(uint32_t& size) {
  if (!options_.fixed_segmentation) return false;
  size = options_.segmentation_size;
  return true;
}

bool ImportOptionsProvider::ShouldSort(uint32_t subject_count) {
  switch (options_.sort_type) {
    case ImportOptions::kSortAutomatically:
      return true;
    case ImportOptions::kSortAsk:
      if (subject_count < 101) return false;
      return ask_sort_ ? ask_sort_(subject_count) : false;
    default:
      return false;
  }
}

}  // namespace fvx::compiler
